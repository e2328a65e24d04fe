#pragma once

#include "joblark/API/ConstructableAPITask.hpp"
#include "joblark/Foundation/JSON.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string_view>

namespace kestrova::testing {

/// The JSON object `text` (the test fails when it is not one).
inline joblark::Dictionary object(std::string_view text) {
    auto parsed = joblark::JSON::parse(text);
    if (!parsed || !parsed->asDictionary()) {
        ADD_FAILURE() << "not a JSON object: " << text;
        return {};
    }
    return *parsed->asDictionary();
}

/// A model built from the JSON object `text`.
template <class T>
std::shared_ptr<T> build(std::string_view text) {
    return joblark::construct<T>(object(text));
}

} // namespace kestrova::testing
