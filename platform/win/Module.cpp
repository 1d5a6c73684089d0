#include "platform/Module.h"


#include <QDir>
#include <QString>

#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace kelvo {

// Directory names are UTF-8 in std::string and UTF-16 towards Windows.

namespace {

std::wstring wide(const std::string& utf8)
{
    return QString::fromStdString(utf8).toStdWString();
}

std::string executableDirectory()
{
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0 || n >= path.size())
        return {};
    path.resize(n);
    const QString dir = QDir::fromNativeSeparators(QString::fromStdWString(path)).section(QLatin1Char('/'), 0, -2);
    return dir.toStdString();
}

std::string lastError()
{
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s = text ? QString::fromWCharArray(text).trimmed().toStdString() : std::string();
    if (text)
        LocalFree(text);
    return s.empty() ? "Fehler " + std::to_string(code) : s;
}

} // namespace

std::vector<std::string> moduleDirectories()
{
    // The override stands alone: a test pointing it at an empty directory finds nothing.
    if (const char* dir = std::getenv("KELVO_MODULE_DIR"); dir && *dir)
        return {QDir::fromNativeSeparators(QString::fromLocal8Bit(dir)).toStdString()};
    // The installer puts the modules next to the program; nothing else is searched (the
    // working directory and PATH never are).
    const std::string exeDir = executableDirectory();
    if (exeDir.empty())
        return {};
    return {exeDir};
}

void* openModuleIn(const std::string& dir, const std::string& fileName, std::string& why)
{
    if (dir.empty() || !QDir::isAbsolutePath(QString::fromStdString(dir))) {
        why = "kein absoluter Pfad: " + dir;
        return nullptr;
    }
    const std::string path = dir + "/" + fileName;
    const DWORD dirAttributes = GetFileAttributesW(wide(dir).c_str());
    if (dirAttributes == INVALID_FILE_ATTRIBUTES || !(dirAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = path + ": Verzeichnis fehlt";
        return nullptr;
    }
    const std::wstring native = QDir::toNativeSeparators(QString::fromStdString(path)).toStdWString();
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        why = path + ": " + lastError();
        return nullptr;
    }
    // A link or junction could point anywhere; code is loaded only from the file itself.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) {
        why = path + ": keine gewöhnliche Datei";
        return nullptr;
    }
    // The module's own libraries (qpdf) are found next to it, not along PATH first.
    HMODULE handle = LoadLibraryExW(native.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!handle)
        why = path + ": " + lastError();
    return reinterpret_cast<void*>(handle);
}

void* moduleSymbol(void* module, const char* name)
{
    return module ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name)) : nullptr;
}

} // namespace kelvo
