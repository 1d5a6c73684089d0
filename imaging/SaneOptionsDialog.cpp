#include "imaging/SaneOptionsDialog.h"

#include "imaging/SourceListDialog.h"

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

} // namespace

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

// ---------------------------------------------------------------------------------------------
// SaneOptions

SaneOptions::SaneOptions(SANE_Handle handle)
    : handle_(handle)
{
    reload();
}

void SaneOptions::reload()
{
    names_.clear();
    count_ = 0;
    if (!handle_)
        return;
    // Option 0 holds the number of options.
    if (!sane_get_option_descriptor(handle_, 0))
        return;
    SANE_Int n = 0;
    if (sane_control_option(handle_, 0, SANE_ACTION_GET_VALUE, &n, nullptr) != SANE_STATUS_GOOD || n < 1)
        return;
    count_ = n;
    names_.resize(static_cast<size_t>(n));
    for (int i = 1; i < n; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle_, i);
        if (d && d->name)
            names_[static_cast<size_t>(i)] = QByteArray(d->name);
    }
}

const SANE_Option_Descriptor* SaneOptions::descriptor(int index) const
{
    if (!handle_ || index <= 0 || index >= count_)
        return nullptr;
    return sane_get_option_descriptor(handle_, index);
}

int SaneOptions::find(const char* name) const
{
    if (!name || !*name)
        return -1;
    for (size_t i = 1; i < names_.size(); ++i) {
        if (names_[i] == name)
            return static_cast<int>(i);
    }
    return -1;
}

bool SaneOptions::isSettable(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    return d && d->type != SANE_TYPE_GROUP && SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
}

bool SaneOptions::isReadable(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    return d && d->type != SANE_TYPE_GROUP && d->type != SANE_TYPE_BUTTON && SANE_OPTION_IS_ACTIVE(d->cap)
        && (d->cap & SANE_CAP_SOFT_DETECT) && d->size > 0;
}

bool SaneOptions::isScalar(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d)
        return false;
    if (d->type == SANE_TYPE_BOOL || d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED)
        return d->size == static_cast<SANE_Int>(sizeof(SANE_Word));
    return d->type == SANE_TYPE_STRING;
}

std::optional<bool> SaneOptions::getBool(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_BOOL || !isReadable(index))
        return std::nullopt;
    SANE_Word w = 0;
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD)
        return std::nullopt;
    return w != SANE_FALSE;
}

std::optional<double> SaneOptions::getNumber(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || !isReadable(index))
        return std::nullopt;
    std::vector<SANE_Word> words(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 1, 0);
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, words.data(), nullptr) != SANE_STATUS_GOOD)
        return std::nullopt;
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(words[0]) : static_cast<double>(words[0]);
}

std::optional<QByteArray> SaneOptions::getString(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_STRING || !isReadable(index))
        return std::nullopt;
    std::vector<char> buf(static_cast<size_t>(d->size) + 1, '\0');
    if (sane_control_option(handle_, index, SANE_ACTION_GET_VALUE, buf.data(), nullptr) != SANE_STATUS_GOOD)
        return std::nullopt;
    buf.back() = '\0';
    return QByteArray(buf.data());
}

QStringList SaneOptions::stringList(int index) const
{
    QStringList out;
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_STRING || d->constraint_type != SANE_CONSTRAINT_STRING_LIST
        || !d->constraint.string_list)
        return out;
    for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
        out << QString::fromUtf8(*s);
    return out;
}

ValueConstraint SaneOptions::numberConstraint(int index) const
{
    ValueConstraint c;
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED))
        return c;
    const bool fixed = d->type == SANE_TYPE_FIXED;
    auto value = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : static_cast<double>(w); };
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
        c.kind = ValueConstraint::Range;
        c.min = value(d->constraint.range->min);
        c.max = value(d->constraint.range->max);
        c.quant = value(d->constraint.range->quant);
    } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
        c.kind = ValueConstraint::List;
        const SANE_Word n = d->constraint.word_list[0];
        for (SANE_Word i = 1; i <= n; ++i)
            c.values.push_back(value(d->constraint.word_list[i]));
    }
    return c;
}

bool SaneOptions::control(int index, void* value)
{
    SANE_Int info = 0;
    const SANE_Status status = sane_control_option(handle_, index, SANE_ACTION_SET_VALUE, value, &info);
    if (info & SANE_INFO_RELOAD_OPTIONS)
        reload();
    return status == SANE_STATUS_GOOD;
}

bool SaneOptions::setBool(int index, bool value)
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_BOOL || !isSettable(index) || !isScalar(index))
        return false;
    SANE_Word w = value ? SANE_TRUE : SANE_FALSE;
    return control(index, &w);
}

bool SaneOptions::setNumber(int index, double value)
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || !isSettable(index))
        return false;
    SANE_Word w = 0;
    if (d->type == SANE_TYPE_FIXED) {
        if (!(value > -32768.0 && value < 32768.0))
            return false;
        w = SANE_FIX(value);
    } else {
        if (!(value >= INT_MIN && value <= INT_MAX))
            return false;
        w = static_cast<SANE_Word>(std::lround(value));
    }
    // Arrays (one value per colour, for example) get the value in every element.
    std::vector<SANE_Word> words(std::max<size_t>(1, static_cast<size_t>(d->size) / sizeof(SANE_Word)), w);
    return control(index, words.data());
}

bool SaneOptions::setString(int index, const QByteArray& value)
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_STRING || !isSettable(index))
        return false;
    if (value.size() + 1 > d->size)
        return false;
    std::vector<char> buf(static_cast<size_t>(d->size), '\0');
    std::memcpy(buf.data(), value.constData(), static_cast<size_t>(value.size()));
    return control(index, buf.data());
}

bool SaneOptions::press(int index)
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_BUTTON || !isSettable(index))
        return false;
    return control(index, nullptr);
}

bool SaneOptions::setFromText(int index, const QByteArray& text)
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d)
        return false;
    const QByteArray t = text.trimmed().toLower();
    switch (d->type) {
    case SANE_TYPE_BOOL:
        if (t == "1" || t == "yes" || t == "true" || t == "on")
            return setBool(index, true);
        if (t == "0" || t == "no" || t == "false" || t == "off")
            return setBool(index, false);
        return false;
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED: {
        bool ok = false;
        const double v = t.toDouble(&ok);
        return ok && setNumber(index, v);
    }
    case SANE_TYPE_STRING:
        return setString(index, text);
    case SANE_TYPE_BUTTON:
        return press(index);
    default:
        return false;
    }
}

std::vector<SaneOptions::Saved> SaneOptions::save() const
{
    std::vector<Saved> out;
    for (int i = 1; i < count_; ++i) {
        const SANE_Option_Descriptor* d = descriptor(i);
        if (!d || !isReadable(i) || !isSettable(i))
            continue;
        Saved s{i, names_[static_cast<size_t>(i)], std::vector<unsigned char>(static_cast<size_t>(d->size) + 1, 0)};
        if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, s.value.data(), nullptr) == SANE_STATUS_GOOD)
            out.push_back(std::move(s));
    }
    return out;
}

void SaneOptions::restore(const std::vector<Saved>& saved)
{
    // Two rounds: a value refused in the first (its option inactive until another one is
    // back) usually goes in the second.
    for (int round = 0; round < 2; ++round) {
        for (const Saved& s : saved) {
            const int i = find(s.name.constData());
            const SANE_Option_Descriptor* d = descriptor(i);
            if (!d || !isSettable(i) || static_cast<size_t>(d->size) + 1 != s.value.size())
                continue;
            std::vector<unsigned char> current(s.value.size(), 0);
            if (sane_control_option(handle_, i, SANE_ACTION_GET_VALUE, current.data(), nullptr) == SANE_STATUS_GOOD
                && current == s.value)
                continue;
            std::vector<unsigned char> v = s.value;
            control(i, v.data());
        }
    }
}

// ---------------------------------------------------------------------------------------------
// SaneOptionsDialog

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
