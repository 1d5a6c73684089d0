#include "platform/Module.h"


#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

namespace {

// What is wrong with `dir`/`fileName` as code to run; empty when nothing.
std::string refused(const std::string& dir, const std::string& fileName)
{
    if (dir.empty() || dir[0] != '/')
        return "kein absoluter Pfad: " + dir;
    const std::string path = dir + "/" + fileName;
    struct stat dirSt {};
    if (::stat(dir.c_str(), &dirSt) != 0 || !S_ISDIR(dirSt.st_mode))
        return path + ": Verzeichnis fehlt";
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return path + ": " + std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return path + ": keine gewöhnliche Datei";
    for (const std::string& problem : {untrusted(st, "Datei"), untrusted(dirSt, "Verzeichnis")})
        if (!problem.empty())
            return path + ": " + problem;
    return {};
}

} // namespace

void* openModuleIn(const std::string& dir, const std::string& fileName, std::string& why)
{
    why = refused(dir, fileName);
    if (!why.empty())
        return nullptr;
    const std::string path = dir + "/" + fileName;
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        why = e ? e : path + ": dlopen fehlgeschlagen";
    }
    return handle;
}

std::string findHelper(const std::string& fileName, std::string& why)
{
    const std::vector<std::string> dirs = moduleDirectories();
    for (const std::string& dir : dirs) {
        struct stat st {};
        if (::stat((dir + "/" + fileName).c_str(), &st) != 0)
            continue; // not there: look on
        // The first one found decides: a refused helper is not replaced by another.
        why = refused(dir, fileName);
        if (why.empty() && ::access((dir + "/" + fileName).c_str(), X_OK) != 0)
            why = dir + "/" + fileName + ": nicht ausführbar";
        return why.empty() ? dir + "/" + fileName : std::string();
    }
    why = "nicht gefunden in";
    for (const std::string& dir : dirs)
        why += " " + dir;
    return {};
}

void* moduleSymbol(void* module, const char* name)
{
    return module ? ::dlsym(module, name) : nullptr;
}

} // namespace kelvo
