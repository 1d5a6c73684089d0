#include "scanner/sane/SaneOptionsDialog.h"

#include "scanner/sane/DialogIcon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <libintl.h>

#include <climits>
#include <cmath>
#include <cstring>

namespace kelvo {

namespace {

constexpr const char* kSaneTextDomain = "sane-backends";

QString unitSuffix(SANE_Unit unit)
{
    switch (unit) {
    case SANE_UNIT_PIXEL: return QStringLiteral(" px");
    case SANE_UNIT_BIT: return QStringLiteral(" bit");
    case SANE_UNIT_MM: return QStringLiteral(" mm");
    case SANE_UNIT_DPI: return QStringLiteral(" dpi");
    case SANE_UNIT_PERCENT: return QStringLiteral(" %");
    case SANE_UNIT_MICROSECOND: return QStringLiteral(" µs");
    default: return {};
    }
}

QString numberText(double v, bool fixed)
{
    return fixed ? QString::number(v, 'g', 8) : QString::number(static_cast<long long>(std::llround(v)));
}

QString saneText(const char* text)
{
    if (!text || !*text)
        return {};
    static const bool bound = [] {
        bind_textdomain_codeset(kSaneTextDomain, "UTF-8");
        return true;
    }();
    (void)bound;
    return QString::fromUtf8(dgettext(kSaneTextDomain, text));
}

} // namespace


SaneOptionsDialog::SaneOptionsDialog(SaneOptions& options, const QString& deviceTitle, QWidget* parent)
    : QDialog(parent)
    , options_(options)
    , saved_(options.save())
{
    setObjectName(QStringLiteral("SaneOptionsDialog"));
    setWindowTitle(QStringLiteral("Scanner-Einstellungen"));
    setModal(true);
    setWindowIcon(dialogIcon(parent));

    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(deviceTitle, this);
    title->setWordWrap(true);
    layout->addWidget(title);

    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    layout->addWidget(scroll_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    rebuild();
    resize(520, 640);
}

void SaneOptionsDialog::reject()
{
    options_.restore(saved_);
    QDialog::reject();
}

void SaneOptionsDialog::applied(int, bool)
{
    // Whatever happened (accepted, rounded, refused, other options changed), show the
    // device's state again; deferred, as the sending widget is about to be replaced.
    if (rebuildPending_)
        return;
    rebuildPending_ = true;
    QTimer::singleShot(0, this, [this] {
        rebuildPending_ = false;
        rebuild();
    });
}

QWidget* SaneOptionsDialog::editorFor(int index)
{
    const SANE_Option_Descriptor* d = options_.descriptor(index);
    if (!d || !options_.isReadable(index))
        return nullptr;
    const bool settable = options_.isSettable(index);
    QWidget* editor = nullptr;

    switch (d->type) {
    case SANE_TYPE_BOOL: {
        if (!options_.isScalar(index))
            return nullptr;
        auto* box = new QCheckBox;
        box->setChecked(options_.getBool(index).value_or(false));
        connect(box, &QCheckBox::toggled, this, [this, index](bool on) { applied(index, options_.setBool(index, on)); });
        editor = box;
        break;
    }
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
        if (!options_.isScalar(index))
            return nullptr;
        const bool fixed = d->type == SANE_TYPE_FIXED;
        const double value = options_.getNumber(index).value_or(0.0);
        const ValueConstraint c = options_.numberConstraint(index);
        if (c.kind == ValueConstraint::List) {
            auto* combo = new QComboBox;
            for (double v : c.values)
                combo->addItem(numberText(v, fixed) + unitSuffix(d->unit), v);
            const int current = combo->findData(value);
            combo->setCurrentIndex(current >= 0 ? current : 0);
            connect(combo, &QComboBox::activated, this, [this, index, combo](int i) {
                applied(index, options_.setNumber(index, combo->itemData(i).toDouble()));
            });
            editor = combo;
        } else if (fixed) {
            auto* spin = new QDoubleSpinBox;
            spin->setDecimals(c.kind == ValueConstraint::Range && c.quant > 0.0 && c.quant < 0.01 ? 4 : 2);
            if (c.kind == ValueConstraint::Range)
                spin->setRange(c.min, c.max);
            else
                spin->setRange(-32768.0, 32767.9999);
            spin->setSingleStep(c.kind == ValueConstraint::Range && c.quant > 0.0 ? c.quant : 1.0);
            spin->setSuffix(unitSuffix(d->unit));
            spin->setKeyboardTracking(false);
            spin->setValue(value);
            connect(spin, &QDoubleSpinBox::valueChanged, this,
                    [this, index](double v) { applied(index, options_.setNumber(index, v)); });
            editor = spin;
        } else {
            auto* spin = new QSpinBox;
            if (c.kind == ValueConstraint::Range)
                spin->setRange(static_cast<int>(c.min), static_cast<int>(c.max));
            else
                spin->setRange(INT_MIN, INT_MAX);
            spin->setSingleStep(c.kind == ValueConstraint::Range && c.quant >= 1.0 ? static_cast<int>(c.quant) : 1);
            spin->setSuffix(unitSuffix(d->unit));
            spin->setKeyboardTracking(false);
            spin->setValue(static_cast<int>(value));
            connect(spin, &QSpinBox::valueChanged, this,
                    [this, index](int v) { applied(index, options_.setNumber(index, v)); });
            editor = spin;
        }
        break;
    }
    case SANE_TYPE_STRING: {
        const QByteArray value = options_.getString(index).value_or(QByteArray());
        const QStringList list = options_.stringList(index);
        if (!list.isEmpty()) {
            auto* combo = new QComboBox;
            for (const QString& s : list)
                combo->addItem(saneText(s.toUtf8().constData()), s);
            const int current = combo->findData(QString::fromUtf8(value));
            combo->setCurrentIndex(current >= 0 ? current : 0);
            connect(combo, &QComboBox::activated, this, [this, index, combo](int i) {
                applied(index, options_.setString(index, combo->itemData(i).toString().toUtf8()));
            });
            editor = combo;
        } else {
            auto* line = new QLineEdit(QString::fromUtf8(value));
            line->setMaxLength(std::max(0, d->size - 1));
            connect(line, &QLineEdit::editingFinished, this, [this, index, line] {
                applied(index, options_.setString(index, line->text().toUtf8()));
            });
            editor = line;
        }
        break;
    }
    default:
        return nullptr;  // buttons, groups
    }

    editor->setObjectName(QString::fromUtf8(d->name ? d->name : ""));
    editor->setToolTip(saneText(d->desc));
    editor->setEnabled(settable);
    return editor;
}

void SaneOptionsDialog::rebuild()
{
    const int scrollPos = scroll_->verticalScrollBar() ? scroll_->verticalScrollBar()->value() : 0;
    QString focused;
    if (QWidget* f = focusWidget(); f && scroll_->isAncestorOf(f))
        focused = f->objectName();

    auto* content = new QWidget;
    auto* outer = new QVBoxLayout(content);
    QFormLayout* form = nullptr;
    QGroupBox* group = nullptr;
    auto startGroup = [&](const QString& title) {
        if (group && form && form->rowCount() == 0) {
            delete group;  // a group with nothing to show
        }
        group = new QGroupBox(title);
        form = new QFormLayout(group);
        outer->addWidget(group);
    };

    for (int i = 1; i < options_.count(); ++i) {
        const SANE_Option_Descriptor* d = options_.descriptor(i);
        if (!d)
            continue;
        if (d->type == SANE_TYPE_GROUP) {
            startGroup(saneText(d->title));
            continue;
        }
        QWidget* editor = editorFor(i);
        if (!editor)
            continue;
        if (!form)
            startGroup(QStringLiteral("Allgemein"));
        form->addRow(saneText(d->title) + QLatin1Char(':'), editor);
    }
    if (group && form && form->rowCount() == 0)
        delete group;
    outer->addStretch(1);

    delete scroll_->takeWidget();
    scroll_->setWidget(content);
    if (scroll_->verticalScrollBar())
        scroll_->verticalScrollBar()->setValue(scrollPos);
    if (!focused.isEmpty()) {
        if (auto* w = content->findChild<QWidget*>(focused))
            w->setFocus();
    }
}

} // namespace kelvo
