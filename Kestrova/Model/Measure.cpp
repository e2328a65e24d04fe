#include "Model/Measure.hpp"

#include "Model/ArchiveCoding.hpp"
#include "Model/JSONReading.hpp"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace kestrova {

void Assessment::populate(const joblark::Dictionary& json) {
    json::readText(json, "uuid", uuid);
    json::readDate(json, "created_at", createdAt);
    json::readBool(json, "ok", isOk);
    json::readEnum(json, "status", status);
    json::readText(json, "measurement", measurement);
    json::readText(json, "message", message);
}

void Criteria::populate(const joblark::Dictionary& json) {
    json::readText(json, "uuid", uuid);
    json::readDate(json, "created_at", createdAt);
    json::readDate(json, "updated_at", updatedAt);
    json::readText(json, "expected_value", expectedValue);
    // Unlike other enumerations, an unknown comparison clears the field rather than keeping it.
    if (const auto* value = json::member(json, "comparison"); value && value->asString())
        comparison = fromRawValue<Comparison>(*value->asString());
    json::readText(json, "value_path", valuePath);
}

std::string_view Criteria::displayText(const std::optional<Comparison>& comparison) {
    if (!comparison)
        return "...";
    switch (*comparison) {
    case Comparison::lessThanOrEqual:
        return "less than or equal to";
    case Comparison::lessThan:
        return "less than";
    case Comparison::greaterThanOrEqual:
        return "greater than or equal to";
    case Comparison::greaterThan:
        return "greater than";
    case Comparison::equal:
        return "equal to";
    case Comparison::contains:
        return "contains";
    }
    return "...";
}

std::string Criteria::summaryText() const {
    std::string text = valuePath.value_or("Entire Request Body");
    text += " is ";
    text += displayText(comparison);
    text += " ";
    text += expectedValue.value_or("some value");
    return text;
}

bool Measure::isNumericMeasurement(const std::string& text) {
    if (text.empty())
        return false;
    switch (text.front()) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case '\0':
        return false;
    default:
        break;
    }
    // The user's locale must not decide what a decimal separator is.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (!cLocale)
        return false;
    char* end = nullptr;
    strtod_l(text.c_str(), &end, cLocale);
    // An embedded NUL stops the reading early, so such a text never counts.
    return end == text.c_str() + text.size() && end != text.c_str();
}

bool Measure::hasNumericMeasurements() const {
    if (!history)
        return false;
    for (const auto& assessment : *history)
        if (assessment && assessment->measurement && isNumericMeasurement(*assessment->measurement))
            return true;
    return false;
}

void Measure::populate(const joblark::Dictionary& json) {
    json::readURL(json, "url", url);
    json::readText(json, "uuid", id);
    json::readText(json, "name", name);
    json::readBool(json, "public", isPublic);
    json::readDate(json, "created_at", createdAt);
    json::readDate(json, "updated_at", updatedAt);
    json::readEnum(json, "status", status);
    json::readEnum(json, "last_status", lastStatus);
    json::readText(json, "last_assessment_message", lastAssessmentMessage);
    json::readList(json, "criteria", criteria);
    json::readList(json, "history", history);
}

void Measure::encode(joblark::KeyedArchiver& archiver) const {
    archive::encodeString(archiver, id, "id");
    archive::encodeURL(archiver, url, "url");
    archive::encodeString(archiver, name, "name");
    archive::encodeEnum(archiver, status, "status");
    archive::encodeEnum(archiver, lastStatus, "lastStatus");
    archive::encodeBool(archiver, isPublic, "isPublic");
    archive::encodeDate(archiver, createdAt, "createdAt");
    archive::encodeDate(archiver, updatedAt, "updatedAt");
}

std::shared_ptr<Measure> Measure::decode(joblark::KeyedUnarchiver& unarchiver) {
    auto measure = std::make_shared<Measure>();
    measure->id = unarchiver.decodeString("id");
    measure->url = archive::decodeURL(unarchiver, "url");
    measure->name = unarchiver.decodeString("name");
    measure->status = archive::decodeEnum<Status>(unarchiver, "status");
    measure->lastStatus = archive::decodeEnum<Assessment::Status>(unarchiver, "lastStatus");
    measure->isPublic = unarchiver.decodeBool("isPublic");
    measure->createdAt = archive::decodeDate(unarchiver, "createdAt");
    measure->updatedAt = archive::decodeDate(unarchiver, "updatedAt");
    return measure;
}

} // namespace kestrova
