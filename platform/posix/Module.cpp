#include "platform/Module.h"

#include "platform/Termination.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace kelvo {

namespace {

std::string executableDirectory()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf - 1))
        return {};
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// What is wrong with a file or directory that code will be loaded from; empty when nothing.
std::string untrusted(const struct stat& st, const char* what)
{
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return std::string(what) + " gehört einem anderen Benutzer (uid " + std::to_string(st.st_uid) + ")";
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return std::string(what) + " ist für Gruppe oder andere beschreibbar";
    return {};
}

} // namespace

std::vector<std::string> moduleDirectories()
{
    // The override stands alone: a test pointing it at an empty directory finds nothing.
    if (const char* dir = std::getenv("KELVO_MODULE_DIR"); dir && *dir)
        return {dir};
    std::vector<std::string> dirs;
    const std::string exeDir = executableDirectory();
    if (!exeDir.empty()) {
        dirs.push_back(exeDir);
        dirs.push_back(exeDir + "/" KELVO_MODULE_RELATIVE_DIR);
    }
    // A copy of the program in a caller's directory uses the installed module.
    for (const char* dir : {KELVO_MODULE_INSTALLED_DIR, KELVO_MODULE_PACKAGED_DIR})
        if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end())
            dirs.push_back(dir);
    return dirs;
}

void* openModuleIn(const std::string& dir, const std::string& fileName, std::string& why)
{
    if (dir.empty() || dir[0] != '/') {
        why = "kein absoluter Pfad: " + dir;
        return nullptr;
    }
    const std::string path = dir + "/" + fileName;
    struct stat dirSt {};
    if (::stat(dir.c_str(), &dirSt) != 0 || !S_ISDIR(dirSt.st_mode)) {
        why = path + ": Verzeichnis fehlt";
        return nullptr;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        why = path + ": keine gewöhnliche Datei";
        return nullptr;
    }
    for (const std::string& problem : {untrusted(st, "Datei"), untrusted(dirSt, "Verzeichnis")})
        if (!problem.empty()) {
            why = path + ": " + problem;
            return nullptr;
        }
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        why = e ? e : path + ": dlopen fehlgeschlagen";
    }
    return handle;
}

void* loadModule(const std::string& fileName)
{
    // Never destroyed, and the modules never closed: the process uses them up to its end,
    // the exit handler included.
    static std::mutex& mutex = *new std::mutex;
    static std::map<std::string, void*>& loaded = *new std::map<std::string, void*>;
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = loaded.find(fileName); it != loaded.end())
        return it->second;

    void* handle = nullptr;
    std::string why;
    const std::vector<std::string> dirs = moduleDirectories();
    for (const std::string& dir : dirs) {
        struct stat st {};
        if (::stat((dir + "/" + fileName).c_str(), &st) != 0)
            continue; // not there: look on
        handle = openModuleIn(dir, fileName, why);
        break; // the first one found decides: a refused module is not replaced by another
    }
    if (!handle && why.empty()) {
        why = "nicht gefunden in";
        for (const std::string& dir : dirs)
            why += " " + dir;
    }
    if (handle)
        keepExitHandlerFirst(); // the module's and its libraries' destructors were registered
    if (!handle) {
        std::fprintf(stderr, "Modul %s nicht geladen: %s\n", fileName.c_str(), why.c_str());
        std::fflush(stderr);
    }
    loaded.emplace(fileName, handle);
    return handle;
}

void* moduleSymbol(void* module, const char* name)
{
    return module ? ::dlsym(module, name) : nullptr;
}

} // namespace kelvo
