// The dialog of the device's own options, shown before an acquisition with the scanner's
// user interface.
#pragma once

#include "scanner/sane/SaneOptions.h"

#include <QByteArray>
#include <QDialog>

#include <vector>

class QScrollArea;

namespace kelvo {

// The device's own options, generated from its descriptors: one box per group, a check box
// per bool, a spin box per number with a range, a list per word or string list, a line per
// free string; buttons and arrays are left out. Changes go to the device at once (so that
// dependent options follow); Abbrechen puts the values back as they were.
class SaneOptionsDialog : public QDialog {
    Q_OBJECT
public:
    SaneOptionsDialog(SaneOptions& options, const QString& deviceTitle, QWidget* parent = nullptr);

    void reject() override;

private:
    void rebuild();
    void applied(int index, bool ok);
    QWidget* editorFor(int index);

    SaneOptions& options_;
    std::vector<SaneOptions::Saved> saved_;
    QScrollArea* scroll_ = nullptr;
    bool rebuildPending_ = false;
};

} // namespace kelvo
