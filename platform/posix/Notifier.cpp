#include "platform/Notifier.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <xcb/xcb.h>

namespace kelvo {

namespace {

// The calling application's main window classes, in the order they are looked for.
constexpr std::string_view kPrimaryClass = "TFormTelnetMain";
constexpr std::string_view kFallbackClass = "TFormCommMain";
// Name of the message atom and of the shared-memory object that carries the text.
constexpr std::string_view kMessageName = "KELVODATA1";
constexpr const char* kSectionName = "/KELVODATA1";
// The section is never smaller than the size the calling application has always seen.
constexpr std::size_t kMinSectionSize = 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionCloser {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionCloser>;

// The class part of a WM_CLASS value "instance\0class\0" (the trailing NUL may be missing).
std::string_view classPart(const char* data, std::size_t len)
{
    const std::string_view value(data, len);
    const std::size_t firstNul = value.find('\0');
    if (firstNul == std::string_view::npos)
        return {};
    std::string_view rest = value.substr(firstNul + 1);
    const std::size_t secondNul = rest.find('\0');
    if (secondNul != std::string_view::npos)
        rest = rest.substr(0, secondNul);
    return rest;
}

// Walks the window trees below every screen's root, level by level, with the requests of a
// level sent together so that a desktop with many windows costs few round trips. Returns the
// first window of the primary class, else the first of the fallback class, else 0.
xcb_window_t findReceiver(xcb_connection_t* conn)
{
    std::vector<xcb_window_t> level;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn)); it.rem;
         xcb_screen_next(&it))
        level.push_back(it.data->root);

    xcb_window_t fallback = XCB_WINDOW_NONE;
    while (!level.empty()) {
        std::vector<xcb_get_property_cookie_t> classCookies;
        std::vector<xcb_query_tree_cookie_t> treeCookies;
        classCookies.reserve(level.size());
        treeCookies.reserve(level.size());
        for (xcb_window_t w : level) {
            // 64 words hold any sensible instance and class name.
            classCookies.push_back(xcb_get_property(conn, 0, w, XCB_ATOM_WM_CLASS,
                                                   XCB_GET_PROPERTY_TYPE_ANY, 0, 64));
            treeCookies.push_back(xcb_query_tree(conn, w));
        }

        xcb_window_t primary = XCB_WINDOW_NONE;
        std::vector<xcb_window_t> next;
        for (std::size_t i = 0; i < level.size(); ++i) {
            // Every reply is collected, even after a hit, so none is left pending.
            Reply<xcb_get_property_reply_t> prop(
                xcb_get_property_reply(conn, classCookies[i], nullptr));
            if (prop && prop->format == 8) {
                const auto len = static_cast<std::size_t>(xcb_get_property_value_length(prop.get()));
                const std::string_view cls =
                    classPart(static_cast<const char*>(xcb_get_property_value(prop.get())), len);
                if (cls == kPrimaryClass && primary == XCB_WINDOW_NONE)
                    primary = level[i];
                else if (cls == kFallbackClass && fallback == XCB_WINDOW_NONE)
                    fallback = level[i];
            }
            // A window that vanished meanwhile simply has no reply.
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(conn, treeCookies[i], nullptr));
            if (tree) {
                const xcb_window_t* children = xcb_query_tree_children(tree.get());
                const int n = xcb_query_tree_children_length(tree.get());
                // Children come bottom to top; the topmost is looked at first.
                for (int k = n - 1; k >= 0; --k)
                    next.push_back(children[k]);
            }
        }
        if (primary != XCB_WINDOW_NONE)
            return primary;
        level = std::move(next);
    }
    return fallback;
}

xcb_atom_t internMessageAtom(xcb_connection_t* conn)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(
        conn, 0, static_cast<uint16_t>(kMessageName.size()), kMessageName.data());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(conn, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The current view of the section. The receiver reads the text after our message has left,
// so the view is kept to the end of the process; a later notification replaces it.
struct SectionView {
    void* address = MAP_FAILED;
    std::size_t size = 0;
    ~SectionView()
    {
        if (address != MAP_FAILED)
            munmap(address, size);
    }
};
SectionView g_view;

// Puts `text` at the first byte of the shared section; false when that is not possible.
// Names in /dev/shm are shared by every user: an object that another user made, or that
// others may read or write, could hand a forged name to the caller or be shrunk under our
// mapping. It is left alone, and the caller hears why on standard error.
bool writeSection(const QByteArray& text)
{
    const int fd = shm_open(kSectionName, O_CREAT | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::fprintf(stderr, "KELVODATA1: gemeinsamer Speicher %s nicht nutzbar (%s), keine Benachrichtigung\n",
                     kSectionName, std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        close(fd);
        std::fprintf(stderr,
                     "KELVODATA1: gemeinsamer Speicher %s gehört einem anderen Benutzer oder ist für "
                     "andere zugänglich, keine Benachrichtigung\n",
                     kSectionName);
        return false;
    }
    const std::size_t needed = std::max(kMinSectionSize, static_cast<std::size_t>(text.size()));
    bool ok = true;
    // Only ever grown: a bigger object left by an earlier run keeps its size.
    if (static_cast<std::size_t>(st.st_size) < needed)
        ok = ftruncate(fd, static_cast<off_t>(needed)) == 0;
    void* address = ok ? mmap(nullptr, needed, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    close(fd);
    if (address == MAP_FAILED)
        return false;
    if (!text.isEmpty())
        std::memcpy(address, text.constData(), static_cast<std::size_t>(text.size()));
    if (g_view.address != MAP_FAILED)
        munmap(g_view.address, g_view.size);
    g_view.address = address;
    g_view.size = needed;
    return true;
}

} // namespace

void SystemNotifier::notify(const QByteArray& text)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    Connection conn(xcb_connect(nullptr, nullptr));
    if (!conn || xcb_connection_has_error(conn.get()))
        return;

    const xcb_window_t receiver = findReceiver(conn.get());
    if (receiver == XCB_WINDOW_NONE)
        return;
    const xcb_atom_t atom = internMessageAtom(conn.get());
    if (atom == XCB_ATOM_NONE)
        return;
    if (!writeSection(text))
        return;

    // The event is sent as a full 32-byte wire event.
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = receiver;
    event.type = atom;
    event.data.data32[0] = static_cast<uint32_t>(text.size());
    event.data.data32[1] = 0;
    xcb_send_event(conn.get(), 0, receiver, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(conn.get());
    // A round trip: once it is answered the server has delivered the message.
    Reply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(conn.get(), xcb_get_input_focus(conn.get()), nullptr));
}

} // namespace kelvo
