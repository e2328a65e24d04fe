#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Tasks/TaskLog.hpp"

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Thread safety: Like every Task: accessors may be called from any thread; the built models are read once the
// task has finished.

namespace joblark {

/// The models of a response could not be built (wrong key, wrong shape, no body).
class JOBLARK_EXPORT SerializationError : public ErrorBase<SerializationError> {
public:
    explicit SerializationError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }
    std::string localizedDescription() const override { return message_; }
    std::string typeName() const override { return "Joblark.SerializationError"; }

private:
    std::string message_;
};

enum class SerializationMode { one, many, none };

/// An API task that turns its parsed results into model objects: a list (`models`, from the list
/// under modelsKey), one (`model`, from modelKey or the whole body), or none.
template <JSONConstructableModel T>
class ConstructableAPITask : public APITask {
public:
    using Model = T;
    using SerializationError = joblark::SerializationError;
    using SerializationMode = joblark::SerializationMode;

    std::string className() const override { return "Joblark.ConstructableAPITask"; }

    virtual std::shared_ptr<T> model() const { return this->readField(model_); }
    virtual void setModel(std::shared_ptr<T> model) { this->writeField(model_, std::move(model)); }
    virtual std::optional<std::vector<std::shared_ptr<T>>> models() const { return this->readField(models_); }
    virtual void setModels(std::optional<std::vector<std::shared_ptr<T>>> models) {
        this->writeField(models_, std::move(models));
    }
    virtual bool many() const { return true; }
    virtual std::optional<std::string> modelKey() const { return this->readField(modelKey_); }
    virtual void setModelKey(std::optional<std::string> key) { this->writeField(modelKey_, std::move(key)); }
    virtual std::string modelsKey() const { return "results"; }
    virtual SerializationMode mode() const {
        return many() ? SerializationMode::many : SerializationMode::one;
    }

    /// The dictionaries under modelsKey, if that is what is there: pointers into `results`, which
    /// must outlive them (copying every model's dictionary cost more than building the models).
    virtual std::optional<std::vector<const Dictionary*>>
    getModelsData(const std::optional<Dictionary>& results) const {
        if (!results)
            return std::nullopt;
        auto it = results->find(modelsKey());
        if (it == results->end() || !it->second.asArray())
            return std::nullopt;
        std::vector<const Dictionary*> list;
        list.reserve(it->second.asArray()->size());
        for (const auto& item : *it->second.asArray()) {
            if (!item.asDictionary())
                return std::nullopt;
            list.push_back(item.asDictionary());
        }
        return list;
    }
    /// The dictionary under modelKey, if a key is set and that is what is there.
    virtual std::optional<Dictionary> getModelData(const std::optional<Dictionary>& results) const {
        auto key = modelKey();
        if (!key || !results)
            return std::nullopt;
        auto it = results->find(*key);
        if (it == results->end() || !it->second.asDictionary())
            return std::nullopt;
        return *it->second.asDictionary();
    }

    void process(const std::optional<Dictionary>& results) override {
        switch (mode()) {
        case SerializationMode::many:
            if (auto data = getModelsData(results)) {
                setModels(constructMultiple<T>(*data));
            } else {
                report(std::make_shared<SerializationError>("Unable to serialize models from results"));
                TaskLog().notice("%{PUBLIC}@ was unable to serialize models from results", className());
            }
            break;
        case SerializationMode::one:
            if (auto data = getModelData(results)) {
                setModel(construct<T>(*data));
            } else if (results) {
                setModel(construct<T>(*results));
            } else {
                report(std::make_shared<SerializationError>("Unable to serialize model from results"));
                TaskLog().notice("%{PUBLIC}@ was unable to serialize model from results", className());
            }
            break;
        case SerializationMode::none:
            TaskLog().notice("%{PUBLIC}@ requires not serialization of models.", className());
            break;
        }
    }

private:
    std::shared_ptr<T> model_;
    std::optional<std::vector<std::shared_ptr<T>>> models_;
    std::optional<std::string> modelKey_;
};

/// A model-building API task whose credential comes from a fresh `Provider` on every read.
template <JSONConstructableModel T, class Provider>
requires std::derived_from<Provider, APITaskAuthenticationProvider> && std::default_initializable<Provider>
class JOBLARK_EXPORT AuthenticatedConstructableAPITask : public ConstructableAPITask<T> {
public:
    std::string className() const override { return "Joblark.AuthenticatedConstructableAPITask"; }
    std::shared_ptr<APITaskAuthenticationProvider> authenticationProvider() const override {
        return std::make_shared<Provider>();
    }
};

} // namespace joblark
