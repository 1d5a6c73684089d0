// Modules of the program loaded at run time (dlopen), so that a run never loads libraries it
// does not use. A module is looked for in $KELVO_MODULE_DIR when that is set (tests,
// benchmarks; trusted like LD_LIBRARY_PATH), else next to the executable, else in the installed
// module directory (relative to the executable, then where this build and the Debian package
// install it); never relative to the working directory. A file anyone but its owner may
// change is refused: it would run as the user. Helper programs of ours (the scanner worker)
// are found in the same places under the same rules.
#pragma once

#include <string>
#include <vector>

namespace kelvo {

// The directories searched for modules, in order.
std::vector<std::string> moduleDirectories();

// Loads `dir`/`fileName` (RTLD_NOW | RTLD_LOCAL) after checking it: a regular file owned by
// root or the effective user, neither it nor its directory writable by group or others.
// Returns the handle, or null with the reason in `why`. Nothing is cached.
void* openModuleIn(const std::string& dir, const std::string& fileName, std::string& why);

// The module, loaded on first use from the first directory that has the file, and kept loaded
// for the life of the process. Null when it cannot be loaded; then one line on standard error
// names the module and the reason, once.
void* loadModule(const std::string& fileName);

// The path of a helper program of ours (such as the scanner worker), from the first
// directory above that has the file, checked as a module is (and executable); empty, with
// the reason in `why`, when there is none or it is refused.
std::string findHelper(const std::string& fileName, std::string& why);

// A symbol of a loaded module, or null.
void* moduleSymbol(void* module, const char* name);

} // namespace kelvo
