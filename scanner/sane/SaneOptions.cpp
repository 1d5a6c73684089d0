// Access to an open SANE device's options by name, with every set read back.
#include "scanner/sane/SaneOptions.h"

#include <cmath>
#include <cstring>

#include "scanner/sane/SaneWorker.h"

namespace kelvo {

namespace {
// The bytes a value of this option takes (none for a button).
size_t valueSize(const SANE_Option_Descriptor* d)
{
    return d && d->type != SANE_TYPE_BUTTON && d->size > 0 ? static_cast<size_t>(d->size) : 0;
}
} // namespace


// A descriptor rebuilt from the worker's message, owning its strings and constraint.
struct SaneOptions::Descriptor {
    SANE_Option_Descriptor d{};
    std::string name, title, desc;
    SANE_Range range{};
    std::vector<SANE_Word> words;
    std::vector<std::string> strings;
    std::vector<SANE_String_Const> stringPointers;
};

SaneOptions::SaneOptions(SaneWorker& worker)
    : worker_(worker)
{
    reload();
}

SaneOptions::~SaneOptions() = default;

void SaneOptions::reload()
{
    // A descriptor a caller still looks at while it sets a value stays valid until the
    // reload after that.
    retired_ = std::move(descriptors_);
    descriptors_.clear();
    names_.clear();
    count_ = 0;
    std::vector<char> reply;
    if (!worker_.running()
        || !worker_.call(worker::Writer(worker::kDescriptors), worker::kDescriptorList, reply, stallLimit()))
        return;
    worker::Reader r(reply.data(), reply.size());
    const int n = r.i32();
    if (!r.ok() || n < 1)
        return;
    std::vector<std::unique_ptr<Descriptor>> list(static_cast<size_t>(n));
    std::vector<QByteArray> names(static_cast<size_t>(n));
    for (int i = 1; i < n; ++i) {
        if (r.i32() == 0)
            continue;
        auto o = std::make_unique<Descriptor>();
        o->name = r.str();
        o->title = r.str();
        o->desc = r.str();
        o->d.type = static_cast<SANE_Value_Type>(r.i32());
        o->d.unit = static_cast<SANE_Unit>(r.i32());
        o->d.size = r.i32();
        o->d.cap = r.i32();
        o->d.constraint_type = static_cast<SANE_Constraint_Type>(r.i32());
        if (o->d.constraint_type == SANE_CONSTRAINT_RANGE) {
            o->range.min = r.i32();
            o->range.max = r.i32();
            o->range.quant = r.i32();
            o->d.constraint.range = &o->range;
        } else if (o->d.constraint_type == SANE_CONSTRAINT_WORD_LIST) {
            const int32_t count = r.i32();
            if (!r.ok() || count < 0 || count > 1 << 20)
                return;
            o->words.push_back(count);
            for (int32_t k = 0; k < count; ++k)
                o->words.push_back(r.i32());
            o->d.constraint.word_list = o->words.data();
        } else if (o->d.constraint_type == SANE_CONSTRAINT_STRING_LIST) {
            const uint32_t count = r.u32();
            if (!r.ok() || count > 1 << 16)
                return;
            for (uint32_t k = 0; k < count; ++k)
                o->strings.push_back(r.str());
            for (const std::string& str : o->strings)
                o->stringPointers.push_back(str.c_str());
            o->stringPointers.push_back(nullptr);
            o->d.constraint.string_list = o->stringPointers.data();
        }
        if (!r.ok())
            return;
        o->d.name = o->name.c_str();
        o->d.title = o->title.c_str();
        o->d.desc = o->desc.c_str();
        names[static_cast<size_t>(i)] = QByteArray::fromStdString(o->name);
        list[static_cast<size_t>(i)] = std::move(o);
    }
    descriptors_ = std::move(list);
    names_ = std::move(names);
    count_ = n;
}

const SANE_Option_Descriptor* SaneOptions::descriptor(int index) const
{
    if (index <= 0 || index >= count_ || !descriptors_[static_cast<size_t>(index)])
        return nullptr;
    return &descriptors_[static_cast<size_t>(index)]->d;
}

int SaneOptions::call(int index, SANE_Action action, void* value, size_t size, SANE_Int* info) const
{
    if (info)
        *info = 0;
    std::vector<char> reply;
    worker::Writer w(worker::kControl);
    w.i32(index).i32(action).bytes(value, value ? size : 0).u32(value ? 1 : 0);
    if (!worker_.running() || !worker_.call(w, worker::kControlled, reply, stallLimit()))
        return SANE_STATUS_IO_ERROR;
    worker::Reader r(reply.data(), reply.size());
    const int status = r.i32();
    const SANE_Int got = r.i32();
    const std::string back = r.str();
    if (!r.ok())
        return SANE_STATUS_IO_ERROR;
    if (info)
        *info = got;
    if (value)
        std::memcpy(value, back.data(), std::min(size, back.size()));
    return status;
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
    if (call(index, SANE_ACTION_GET_VALUE, &w, sizeof w, nullptr) != SANE_STATUS_GOOD)
        return std::nullopt;
    return w != SANE_FALSE;
}

std::optional<double> SaneOptions::getNumber(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || !isReadable(index))
        return std::nullopt;
    std::vector<SANE_Word> words(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 1, 0);
    if (call(index, SANE_ACTION_GET_VALUE, words.data(), words.size() * sizeof(SANE_Word), nullptr) != SANE_STATUS_GOOD)
        return std::nullopt;
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(words[0]) : static_cast<double>(words[0]);
}

std::optional<QByteArray> SaneOptions::getString(int index) const
{
    const SANE_Option_Descriptor* d = descriptor(index);
    if (!d || d->type != SANE_TYPE_STRING || !isReadable(index))
        return std::nullopt;
    std::vector<char> buf(static_cast<size_t>(d->size) + 1, '\0');
    if (call(index, SANE_ACTION_GET_VALUE, buf.data(), buf.size(), nullptr) != SANE_STATUS_GOOD)
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
    const int status = call(index, SANE_ACTION_SET_VALUE, value, valueSize(descriptor(index)), &info);
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
        if (call(i, SANE_ACTION_GET_VALUE, s.value.data(), s.value.size(), nullptr) == SANE_STATUS_GOOD)
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
            if (call(i, SANE_ACTION_GET_VALUE, current.data(), current.size(), nullptr) == SANE_STATUS_GOOD
                && current == s.value)
                continue;
            std::vector<unsigned char> v = s.value;
            control(i, v.data());
        }
    }
}

} // namespace kelvo
