// The Info dialog: product, version, copyright and what is new. Created hidden at start-up
// and shown modally by Help > Info; OK or Enter closes it, Escape does not.
#pragma once

#include <QDialog>

class QPushButton;

namespace kelvo {

class TAboutBox final : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    QPushButton* okButton() const { return m_ok; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* m_ok = nullptr;
};

} // namespace kelvo
