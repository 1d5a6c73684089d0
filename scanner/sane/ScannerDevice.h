// A scanner SANE knows: its device name and what it says of itself.
#pragma once

#include <QByteArray>
#include <QString>

namespace kelvo {

struct ScannerDevice {
    QByteArray name;  // SANE device name, e.g. "fujitsu:fi-7160:12345"
    QString vendor;
    QString model;
    QString type;
};

} // namespace kelvo
