#include "Presentation/Identifier.hpp"

#include "joblark/Foundation/UUID.hpp"

namespace kestrova {

std::size_t Identifier::hash() const {
    return User::Identifier{id, updatedAt}.hash();
}

Identifier Identifier::of(const std::optional<std::string>& id, const std::optional<joblark::Date>& updatedAt,
                          const joblark::Date& reloadTime) {
    return Identifier{id ? *id : joblark::UUID().uuidString(), updatedAt.value_or(reloadTime)};
}

User::Identifier sectionIdentifier(const std::optional<std::string>& id,
                                   const std::optional<joblark::Date>& updatedAt,
                                   const joblark::Date& reloadTime) {
    const Identifier identifier = Identifier::of(id, updatedAt, reloadTime);
    return User::Identifier{identifier.id, identifier.updatedAt};
}

} // namespace kestrova
