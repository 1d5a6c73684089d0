// The list of scanners SANE knows, for choosing the one to scan with.
#pragma once

#include "scanner/sane/ScannerDevice.h"

#include <QByteArray>
#include <QDialog>

#include <vector>

class QTreeWidget;

namespace kelvo {

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
