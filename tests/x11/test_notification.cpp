// The hand-off notification as a calling application receives it: real X11 windows with the
// calling application's window classes, the ClientMessage and the shared section.
#include "platform/Notifier.h"
#include "scan/HandOff.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <xcb/xcb.h>

namespace {

constexpr char kSection[] = "/KELVODATA1";
const QByteArray kTelnetClass("telnet\0TFormTelnetMain\0", 23);
const QByteArray kCommClass("comm\0TFormCommMain\0", 19);
const QByteArray kExampleName = "C:\\Scans\\Bild03.JPG";

struct Received {
    xcb_window_t window;
    xcb_atom_t type;
    int format;
    uint32_t data0;
    uint32_t data1;
};

// What the shared section holds now; nullopt when it does not exist.
struct Section {
    QByteArray bytes;
    off_t size;
};
std::optional<Section> readSection()
{
    const int fd = shm_open(kSection, O_RDONLY, 0);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<Section> result;
    if (fstat(fd, &st) == 0) {
        Section s{QByteArray(), st.st_size};
        if (st.st_size > 0) {
            void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
            if (p != MAP_FAILED) {
                s.bytes = QByteArray(static_cast<const char*>(p), static_cast<qsizetype>(st.st_size));
                munmap(p, static_cast<size_t>(st.st_size));
            }
        }
        result = s;
    }
    close(fd);
    return result;
}

bool createSection(off_t size, char fill)
{
    const int fd = shm_open(kSection, O_CREAT | O_RDWR, 0600);
    if (fd < 0)
        return false;
    const QByteArray bytes(static_cast<qsizetype>(size), fill);
    const bool ok = write(fd, bytes.constData(), bytes.size()) == bytes.size();
    close(fd);
    return ok;
}

// Plays the calling application: owns windows of chosen classes and receives what is sent to
// them. Test programs may run side by side on one X server, and the section's name is
// system-wide, so each test holds a lock for its whole run.
class Notification : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QByteArray lockPath =
            QFile::encodeName(QDir::tempPath() + "/kelvo-x11-notification.lock");
        lockFd_ = open(lockPath.constData(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(lockFd_, 0) << std::strerror(errno);
        ASSERT_EQ(flock(lockFd_, LOCK_EX), 0) << std::strerror(errno);
        shm_unlink(kSection);

        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under xvfb-run";
        int screenNo = 0;
        conn_ = xcb_connect(nullptr, &screenNo);
        ASSERT_EQ(xcb_connection_has_error(conn_), 0) << "no X server at $DISPLAY";
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
        for (int i = 0; i < screenNo && it.rem; ++i)
            xcb_screen_next(&it);
        screen_ = it.data;
        const char name[] = "KELVODATA1";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            conn_, xcb_intern_atom(conn_, 0, sizeof name - 1, name), nullptr);
        ASSERT_NE(reply, nullptr);
        atom_ = reply->atom;
        free(reply);
    }

    void TearDown() override
    {
        if (conn_)
            xcb_disconnect(conn_);
        shm_unlink(kSection);
        if (lockFd_ >= 0)
            close(lockFd_); // releases the lock
    }

    // A mapped window below `parent` (0: the root) whose WM_CLASS is `wmClass`.
    xcb_window_t createWindow(const QByteArray& wmClass, xcb_window_t parent = 0)
    {
        const xcb_window_t w = xcb_generate_id(conn_);
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, w, parent ? parent : screen_->root, 0, 0,
                          64, 48, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0,
                          nullptr);
        if (!wmClass.isEmpty())
            xcb_change_property(conn_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS,
                                XCB_ATOM_STRING, 8, static_cast<uint32_t>(wmClass.size()),
                                wmClass.constData());
        xcb_map_window(conn_, w);
        // Round trip: the window exists for everyone once this returns.
        free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
        return w;
    }

    // Client messages that arrive within `waitMs`; stops early, after a short grace period
    // for anything further, once `expected` have come.
    std::vector<Received> receive(int waitMs, std::size_t expected)
    {
        std::vector<Received> got;
        QDeadlineTimer deadline(waitMs);
        while (!deadline.hasExpired()) {
            while (xcb_generic_event_t* ev = xcb_poll_for_event(conn_)) {
                if ((ev->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                    const auto* cm = reinterpret_cast<xcb_client_message_event_t*>(ev);
                    got.push_back({cm->window, cm->type, cm->format, cm->data.data32[0],
                                   cm->data.data32[1]});
                    if (got.size() == expected)
                        deadline = QDeadlineTimer(200);
                }
                free(ev);
            }
            pollfd pfd{xcb_get_file_descriptor(conn_), POLLIN, 0};
            poll(&pfd, 1, static_cast<int>(qBound(qint64(1), deadline.remainingTime(), qint64(50))));
        }
        return got;
    }

    // Expects exactly one message, to `window`, announcing `text`, which the section holds.
    void expectDelivered(xcb_window_t window, const QByteArray& text)
    {
        const std::vector<Received> got = receive(5000, 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].window, window);
        EXPECT_EQ(got[0].type, atom_);
        EXPECT_EQ(got[0].format, 32);
        EXPECT_EQ(got[0].data0, static_cast<uint32_t>(text.size()));
        EXPECT_EQ(got[0].data1, 0u);
        const std::optional<Section> section = readSection();
        ASSERT_TRUE(section.has_value()) << "no shared section " << kSection;
        EXPECT_GE(section->size, qMax<off_t>(20, text.size()));
        EXPECT_EQ(section->bytes.left(text.size()), text);
    }

    void expectNothing()
    {
        EXPECT_TRUE(receive(300, 0).empty());
        EXPECT_FALSE(readSection().has_value()) << "section created without a receiver";
    }

    xcb_connection_t* conn_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    xcb_atom_t atom_ = 0;
    int lockFd_ = -1;
};

enum class Who { Telnet, Comm, Nobody };

struct ReceiverCase {
    const char* label;
    bool telnet;
    bool comm;
    bool commFirst;  // created before the telnet window
    bool inFrame;    // below a parent window, as under a reparenting window manager
    Who receiver;
};

TEST_F(Notification, ReceivingWindowByClass)
{
    const ReceiverCase cases[] = {
        {"only comm", false, true, false, false, Who::Comm},
        {"only telnet", true, false, false, false, Who::Telnet},
        {"both, telnet first", true, true, false, false, Who::Telnet},
        {"both, comm first", true, true, true, false, Who::Telnet},
        {"only comm, in a frame", false, true, false, true, Who::Comm},
        {"both in frames", true, true, true, true, Who::Telnet},
        {"neither", false, false, false, false, Who::Nobody},
    };
    for (const ReceiverCase& c : cases) {
        SCOPED_TRACE(c.label);
        shm_unlink(kSection);
        std::vector<xcb_window_t> made;
        // Windows that must never be taken: the class name only as instance part, no class.
        made.push_back(createWindow(QByteArray("TFormTelnetMain\0Other\0", 22)));
        made.push_back(createWindow(QByteArray("TFormCommMain", 13)));
        made.push_back(createWindow(QByteArray()));
        auto make = [&](const QByteArray& cls) {
            const xcb_window_t frame = c.inFrame ? createWindow(QByteArray("frame\0Frame\0", 12)) : 0;
            made.push_back(createWindow(cls, frame));
            if (frame)
                made.push_back(frame);
            return made[made.size() - (frame ? 2 : 1)];
        };
        xcb_window_t telnet = 0;
        xcb_window_t comm = 0;
        if (c.comm && c.commFirst)
            comm = make(kCommClass);
        if (c.telnet)
            telnet = make(kTelnetClass);
        if (c.comm && !c.commFirst)
            comm = make(kCommClass);

        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        kelvo::SystemNotifier notifier;
        kelvo::WriteHandOff(kExampleName, 3, "S", dir.path(), notifier);

        const QByteArray text("\x04" "OBILD01C:\\Scans\\Bild03.JPG'3'S\x04", 32);
        switch (c.receiver) {
        case Who::Telnet: expectDelivered(telnet, text); break;
        case Who::Comm: expectDelivered(comm, text); break;
        case Who::Nobody: expectNothing(); break;
        }
        for (xcb_window_t w : made)
            xcb_destroy_window(conn_, w);
        xcb_flush(conn_);
    }
}

TEST_F(Notification, OnePageOrLessSendsNothing)
{
    createWindow(kTelnetClass);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kelvo::SystemNotifier notifier;
    for (int count : {1, 0, -2}) {
        SCOPED_TRACE(count);
        kelvo::WriteHandOff(kExampleName, count, "S", dir.path(), notifier);
        expectNothing();
    }
}

TEST_F(Notification, LongTextsArriveWholeOneAfterAnother)
{
    const xcb_window_t receiver = createWindow(kCommClass);
    kelvo::SystemNotifier notifier;
    const QByteArray longName = "/scans/" + QByteArray(244, 'x') + ".JPG";
    ASSERT_EQ(longName.size(), 255);
    // A long text, then a shorter one through the same section.
    for (const QByteArray& name : {longName, QByteArray("/scans/Bild0002.TIF"), kExampleName}) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray text = kelvo::notificationText(kelvo::handOffRecord(name, 12, "S"));
        notifier.notify(text);
        expectDelivered(receiver, text);
    }
}

struct SizeCase {
    const char* label;
    off_t before;  // size of a section left from elsewhere
    off_t atLeast; // its size afterwards
    off_t atMost;
};

TEST_F(Notification, ASectionOthersCanReachIsLeftAlone)
{
    // Names in /dev/shm are shared by every user: a section another user made, or one others
    // may read or write, could hand the caller a forged name. Nothing is sent then.
    createWindow(kTelnetClass);
    kelvo::SystemNotifier notifier;
    const struct {
        const char* label;
        mode_t mode;
        bool foreignOwner;
    } cases[] = {{"open to everyone", 0666, false}, {"readable by the group", 0640, false},
                 {"another user's", 0600, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.foreignOwner && geteuid() != 0)
            continue; // only root can give a section away
        shm_unlink(kSection);
        ASSERT_TRUE(createSection(64, 'Z'));
        const int fd = shm_open(kSection, O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fchmod(fd, c.mode), 0);
        if (c.foreignOwner) {
            ASSERT_EQ(fchown(fd, 65534, 65534), 0);
        }
        close(fd);
        notifier.notify(kelvo::notificationText("/scans/b.png'2'S"));
        EXPECT_TRUE(receive(300, 0).empty());
        EXPECT_EQ(readSection()->bytes, QByteArray(64, 'Z'));
    }
}

TEST_F(Notification, SectionOnlyGrows)
{
    const xcb_window_t receiver = createWindow(kTelnetClass);
    const QByteArray shortText = kelvo::notificationText("'2'S");
    const QByteArray exampleText = kelvo::notificationText(kelvo::handOffRecord(kExampleName, 3, "S"));
    const SizeCase cases[] = {
        {"bigger one kept", 4096, 4096, 4096},
        {"smaller one grown", 5, 32, 32},
        {"empty one grown", 0, 32, 32},
    };
    kelvo::SystemNotifier notifier;
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.label);
        shm_unlink(kSection);
        ASSERT_TRUE(createSection(c.before, 'Z'));
        notifier.notify(exampleText);
        expectDelivered(receiver, exampleText);
        const std::optional<Section> s = readSection();
        ASSERT_TRUE(s.has_value());
        EXPECT_GE(s->size, c.atLeast);
        EXPECT_LE(s->size, c.atMost);
        // Beyond the text a kept section is left as it was.
        if (c.before > 32) {
            EXPECT_EQ(s->bytes.mid(32, 8), QByteArray(8, 'Z'));
        }
    }
    // A text shorter than 20 bytes still gets a section of 20.
    shm_unlink(kSection);
    notifier.notify(shortText);
    expectDelivered(receiver, shortText);
    EXPECT_EQ(readSection()->size, 20);
}

// Sets or clears an environment variable for one scope.
class EnvOverride {
public:
    EnvOverride(const char* name, const std::optional<QByteArray>& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), saved_(qgetenv(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvOverride()
    {
        if (had_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray saved_;
};

TEST_F(Notification, NoDisplayReturnsQuietly)
{
    createWindow(kTelnetClass);
    const std::optional<QByteArray> displays[] = {std::nullopt, QByteArray(""),
                                                  QByteArray(":4711")};
    kelvo::SystemNotifier notifier;
    for (const std::optional<QByteArray>& display : displays) {
        SCOPED_TRACE(display ? display->toStdString() : std::string("unset"));
        {
            EnvOverride env("DISPLAY", display);
            notifier.notify(kelvo::notificationText(kelvo::handOffRecord(kExampleName, 3, "S")));
        }
        expectNothing();
    }
}

} // namespace
