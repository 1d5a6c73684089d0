// The list of scanners SANE knows, for choosing the one to scan with.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QIcon>
#include <QString>

#include <vector>

class QTreeWidget;

namespace kelvo {

// The program's icon for a dialog: the application's when it has one, else that of the
// window the dialog belongs to.
QIcon dialogIcon(QWidget* parent);

struct ScannerDevice {
    QByteArray name;  // SANE device name, e.g. "fujitsu:fi-7160:12345"
    QString vendor;
    QString model;
    QString type;
};

// Modal "Scanner auswählen": one row per device (vendor, model, name); OK takes the chosen
// row, a double click does the same, Abbrechen keeps the previous choice.
class SourceListDialog : public QDialog {
    Q_OBJECT
public:
    SourceListDialog(const std::vector<ScannerDevice>& devices, const QByteArray& current,
                     QWidget* parent = nullptr);
    // Name of the selected device; empty when none is selected.
    QByteArray chosenName() const;

private:
    QTreeWidget* list_ = nullptr;
};

} // namespace kelvo
