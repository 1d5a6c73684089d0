// Access to an open SANE device's options by name: descriptors, typed get and set with the
// value read back, and saving and restoring all values. The device is open in the scanner
// worker: descriptors come from there with their strings and constraints and are rebuilt
// here, and every get and set is one request to it.
#pragma once

#include "scanner/sane/SaneFrame.h"

#include <QByteArray>
#include <QStringList>

#include <sane/sane.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

class SaneWorker;

// One open device's options. Descriptors are fetched again (and the name index rebuilt)
// whenever a change reports SANE_INFO_RELOAD_OPTIONS, so constraints and the active state are
// always current. Every set reads the value back (the backend may have rounded or clamped it).
// Once the worker has gone, there are no options and nothing is set.
class SaneOptions {
public:
    explicit SaneOptions(SaneWorker& worker);
    ~SaneOptions();

    int count() const { return count_; }
    const SANE_Option_Descriptor* descriptor(int index) const;
    // Index of the option with this name, or -1.
    int find(const char* name) const;
    // Active, settable by software, and not a group or button.
    bool isSettable(int index) const;
    bool isReadable(int index) const;
    // A single value (not an array such as a gamma table).
    bool isScalar(int index) const;

    std::optional<bool> getBool(int index) const;
    std::optional<double> getNumber(int index) const;  // INT or FIXED, first element
    std::optional<QByteArray> getString(int index) const;
    QStringList stringList(int index) const;
    ValueConstraint numberConstraint(int index) const;

    // Each returns true when the backend accepted the value; what it really holds is read
    // back (getX) afterwards. Inactive and read-only options are left alone (false).
    bool setBool(int index, bool value);
    bool setNumber(int index, double value);  // rounded for INT options
    bool setString(int index, const QByteArray& value);
    bool press(int index);                     // buttons
    // A value written as text (bool: 1/0, yes/no, true/false, on/off).
    bool setFromText(int index, const QByteArray& text);

    // Raw values of all readable options, to put back when a dialog is cancelled.
    struct Saved {
        int index;
        QByteArray name;
        std::vector<unsigned char> value;
    };
    std::vector<Saved> save() const;
    void restore(const std::vector<Saved>& saved);

    void reload();

private:
    struct Descriptor;
    bool control(int index, void* value);
    // One sane_control_option in the worker; `size` bytes at `value` go there and back. The
    // status as the backend gave it: a broken one answers with any number.
    int call(int index, SANE_Action action, void* value, size_t size, SANE_Int* info) const;

    SaneWorker& worker_;
    int count_ = 0;
    std::vector<QByteArray> names_;
    std::vector<std::unique_ptr<Descriptor>> descriptors_;
    std::vector<std::unique_ptr<Descriptor>> retired_;
};

} // namespace kelvo
