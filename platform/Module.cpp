// Loading a module once, from the first directory that has it: the same on every system; the
// directories and the checks before opening are the system's own (posix/, win/).
#include "platform/Module.h"

#include "platform/Termination.h"

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <map>
#include <mutex>

namespace kelvo {

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
        if (!QFileInfo::exists(QString::fromStdString(dir + "/" + fileName)))
            continue; // not there: look on
        handle = openModuleIn(dir, fileName, why);
        break; // the first one found decides: a refused module is not replaced by another
    }
    if (!handle && why.empty()) {
        why = "nicht gefunden in";
        for (const std::string& dir : dirs)
            why += " " + dir;
    }
    if (handle) {
        keepExitHandlerFirst(); // the module's and its libraries' destructors were registered
    } else {
        std::fprintf(stderr, "Modul %s nicht geladen: %s\n", fileName.c_str(), why.c_str());
        std::fflush(stderr);
    }
    loaded.emplace(fileName, handle);
    return handle;
}

} // namespace kelvo
