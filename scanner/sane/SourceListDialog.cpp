#include "scanner/sane/SourceListDialog.h"

#include "scanner/sane/DialogIcon.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace kelvo {

SourceListDialog::SourceListDialog(const std::vector<ScannerDevice>& devices, const QByteArray& current,
                                   QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SourceListDialog"));
    setWindowTitle(QStringLiteral("Scanner auswählen"));
    setModal(true);
    setWindowIcon(dialogIcon(parent));

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(devices.empty() ? QStringLiteral("Es wurde kein Scanner gefunden.")
                                             : QStringLiteral("Mit welchem Scanner soll gescannt werden?"),
                             this);
    layout->addWidget(label);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("deviceList"));
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("Hersteller"), QStringLiteral("Modell"), QStringLiteral("Gerät")});
    for (const ScannerDevice& d : devices) {
        auto* item = new QTreeWidgetItem(list_, {d.vendor, d.model, QString::fromUtf8(d.name)});
        item->setData(0, Qt::UserRole, d.name);
        item->setToolTip(0, d.type);
        if (d.name == current)
            list_->setCurrentItem(item);
    }
    if (!list_->currentItem() && list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(list_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("OK"));
    ok->setEnabled(list_->currentItem() != nullptr);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::currentItemChanged, this,
            [ok](QTreeWidgetItem* item, QTreeWidgetItem*) { ok->setEnabled(item != nullptr); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem*, int) { accept(); });
    layout->addWidget(buttons);

    resize(560, 320);
}

QByteArray SourceListDialog::chosenName() const
{
    const QTreeWidgetItem* item = list_->currentItem();
    return item ? item->data(0, Qt::UserRole).toByteArray() : QByteArray();
}

} // namespace kelvo
