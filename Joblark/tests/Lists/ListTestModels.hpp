#pragma once

// A small cursor-paged model, its page task, and archiving, for the paged-list tests.
#include "joblark/API/CursorPagedConstructableAPITask.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"

namespace joblark::testing {

struct Widget : Object, Coding, JSONConstructable, CursorPagable {
    static constexpr std::string_view codingClassName = "Kestrova.TestWidget";
    std::optional<std::string> id;

    std::string className() const override { return std::string(codingClassName); }
    bool isEqual(const Object& other) const override {
        auto* widget = dynamic_cast<const Widget*>(&other);
        return widget && widget->id == id;
    }
    std::size_t hash() const override { return std::hash<std::string>{}(id.value_or("")); }
    void populate(const Dictionary& json) override {
        if (auto it = json.find("id"); it != json.end() && it->second.asString())
            id = *it->second.asString();
    }
    std::optional<std::string> cursorId() const override { return id; }
    void encode(KeyedArchiver& archiver) const override {
        if (id)
            archiver.encodeString(*id, "id");
    }
    static std::shared_ptr<Widget> decode(KeyedUnarchiver& unarchiver) {
        auto widget = std::make_shared<Widget>();
        widget->id = unarchiver.decodeString("id");
        return widget->id ? widget : nullptr;
    }
    static std::shared_ptr<Widget> named(std::string name) {
        auto widget = std::make_shared<Widget>();
        widget->id = std::move(name);
        return widget;
    }
};

class WidgetPage : public CursorPagedConstructableAPITask<Widget, WidgetPage> {
public:
    using CursorPagedConstructableAPITask::CursorPagedConstructableAPITask;
    bool requiresAuthentication() const override { return false; }
};

} // namespace joblark::testing
