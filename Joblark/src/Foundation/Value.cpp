#include "joblark/Foundation/Value.hpp"

#include <cmath>
#include <sstream>

namespace joblark {

std::optional<bool> Value::asBool() const {
    if (auto* b = std::get_if<bool>(&v_)) return *b;
    return std::nullopt;
}

std::optional<std::int64_t> Value::asInteger() const {
    if (auto* i = std::get_if<std::int64_t>(&v_)) return *i;
    return std::nullopt;
}

std::optional<double> Value::asDouble() const {
    if (auto* d = std::get_if<double>(&v_)) return *d;
    if (auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
    return std::nullopt;
}

ErrorPtr Value::asError() const {
    if (auto* e = std::get_if<ErrorPtr>(&v_)) return *e;
    return nullptr;
}

ObjectPtr Value::asObject() const {
    if (auto* o = std::get_if<ObjectPtr>(&v_)) return *o;
    return nullptr;
}

const TaskResult* Value::asTaskResult() const {
    if (auto* r = std::get_if<std::shared_ptr<const TaskResult>>(&v_)) return r->get();
    return nullptr;
}

const Value* Value::find(std::string_view key) const {
    const auto* dict = asDictionary();
    if (!dict) return nullptr;
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

const Value* Value::at(std::size_t index) const {
    const auto* array = asArray();
    if (!array || index >= array->size()) return nullptr;
    return &(*array)[index];
}

bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        if (isInteger() && other.isInteger()) return *asInteger() == *other.asInteger();
        return *asDouble() == *other.asDouble();
    }
    if (kind() != other.kind()) return false;
    switch (kind()) {
    case Kind::null: return true;
    case Kind::boolean: return std::get<bool>(v_) == std::get<bool>(other.v_);
    case Kind::string: return std::get<std::string>(v_) == std::get<std::string>(other.v_);
    case Kind::array: return std::get<Array>(v_) == std::get<Array>(other.v_);
    case Kind::dictionary: return std::get<Dictionary>(v_) == std::get<Dictionary>(other.v_);
    case Kind::data: return std::get<Data>(v_) == std::get<Data>(other.v_);
    case Kind::error: return std::get<ErrorPtr>(v_) == std::get<ErrorPtr>(other.v_);
    case Kind::object: {
        const auto& a = std::get<ObjectPtr>(v_);
        const auto& b = std::get<ObjectPtr>(other.v_);
        if (!a || !b) return a == b;
        return a->isEqual(*b);
    }
    case Kind::taskResult: return detail::taskResultEquals(*asTaskResult(), *other.asTaskResult());
    case Kind::integer:
    case Kind::real: break;
    }
    return false;
}

static void describe(std::ostream& out, const Value& v) {
    switch (v.kind()) {
    case Value::Kind::null: out << "null"; break;
    case Value::Kind::boolean: out << (*v.asBool() ? "true" : "false"); break;
    case Value::Kind::integer: out << *v.asInteger(); break;
    case Value::Kind::real: out << *v.asDouble(); break;
    case Value::Kind::string: out << '"' << *v.asString() << '"'; break;
    case Value::Kind::array: {
        out << '[';
        bool first = true;
        for (const auto& e : *v.asArray()) {
            if (!first) out << ", ";
            first = false;
            describe(out, e);
        }
        out << ']';
        break;
    }
    case Value::Kind::dictionary: {
        out << '{';
        bool first = true;
        for (const auto& [k, e] : *v.asDictionary()) {
            if (!first) out << ", ";
            first = false;
            out << '"' << k << "\": ";
            describe(out, e);
        }
        out << '}';
        break;
    }
    case Value::Kind::data: out << "<" << v.asData()->size() << " bytes>"; break;
    case Value::Kind::error: {
        auto e = v.asError();
        out << (e ? e->typeName() + "(" + e->localizedDescription() + ")" : std::string("<null error>"));
        break;
    }
    case Value::Kind::object: {
        auto o = v.asObject();
        out << (o ? o->description() : std::string("<null object>"));
        break;
    }
    case Value::Kind::taskResult: out << detail::taskResultDescription(*v.asTaskResult()); break;
    }
}

std::string Value::description() const {
    std::ostringstream out;
    describe(out, *this);
    return out.str();
}

} // namespace joblark
