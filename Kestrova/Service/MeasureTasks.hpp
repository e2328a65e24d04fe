#pragma once

#include "Model/Measure.hpp"
#include "Model/User.hpp"
#include "Service/EndpointTasks.hpp"

#include <optional>

namespace kestrova {

/// The account's measures: the first page of up to 100.
class ListMeasures : public AuthenticatedServicePage<Measure, ListMeasures> {
    using Base = AuthenticatedServicePage<Measure, ListMeasures>;

public:
    using Base::Base;
    std::string className() const override { return "Kestrova.ListMeasures"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::list; }
    /// The collection with "page_size" = "100", whatever page this task was made for.
    joblark::URL url() const override;
};

/// Changes a measure: PATCH of `params` ("public", "status", each only when given) to its own URL.
class PatchMeasure : public AuthenticatedServicePage<Measure, PatchMeasure> {
    using Base = AuthenticatedServicePage<Measure, PatchMeasure>;

public:
    explicit PatchMeasure(joblark::URL url) : Base(url), params(joblark::Dictionary{}), _url(url) {}

    std::optional<joblark::Dictionary> params;
    const joblark::URL _url;

    std::string className() const override { return "Kestrova.PatchMeasure"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::partialUpdate; }
    bool many() const override { return false; }
    joblark::URL url() const override { return _url; }
    std::optional<joblark::Dictionary> parameters() const override { return params; }
};

/// The signed-in user, as a one-element list.
class ListUsers : public AuthenticatedServicePage<User, ListUsers> {
    using Base = AuthenticatedServicePage<User, ListUsers>;

public:
    using Base::Base;
    std::string className() const override { return "Kestrova.ListUsers"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::list; }
    /// The current-user URL, whatever page this task was made for.
    joblark::URL url() const override;
};

/// Deletes an endpoint or a measure at its own URL.
class DestroyResource : public ServiceTask<joblark::AuthenticatedAPITask<AuthenticationProvider>> {
public:
    explicit DestroyResource(joblark::URL url) : _url(std::move(url)) {}

    const joblark::URL _url;

    std::string className() const override { return "Kestrova.DestroyResource"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::destroy; }
    joblark::URL url() const override { return _url; }
};

} // namespace kestrova
