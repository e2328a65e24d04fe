#pragma once

#include "Model/Endpoint.hpp"
#include "Service/Authentication.hpp"

#include "joblark/API/CursorPagedConstructableAPITask.hpp"

#include <optional>

namespace kestrova {

/// A page of a service collection; the page next to it asks with the same credentials source.
template <class T, class Self>
class AuthenticatedServicePage
    : public ServiceTask<
          joblark::AuthenticatedCursorPagedConstructableAPITask<T, AuthenticationProvider, Self>> {
    using Base =
        ServiceTask<joblark::AuthenticatedCursorPagedConstructableAPITask<T, AuthenticationProvider, Self>>;

public:
    using Base::Base;

protected:
    joblark::TaskPtr makePage(const joblark::URL& url) const override {
        auto page = Base::makePage(url);
        if (auto service = std::dynamic_pointer_cast<Self>(page))
            service->setCredentialsSource(this->credentialsSource());
        return page;
    }
};

/// The account's endpoints: the first page of up to 100.
class ListEndpoints : public AuthenticatedServicePage<Endpoint, ListEndpoints> {
    using Base = AuthenticatedServicePage<Endpoint, ListEndpoints>;

public:
    using Base::Base;
    std::string className() const override { return "Kestrova.ListEndpoints"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::list; }
    /// The collection with "page_size" = "100", whatever page this task was made for.
    joblark::URL url() const override;
};

/// Adds an endpoint: POST of `params` ("name", "endpoint_url") to the URL given (the collection).
class CreateEndpoint : public AuthenticatedServicePage<Endpoint, CreateEndpoint> {
    using Base = AuthenticatedServicePage<Endpoint, CreateEndpoint>;

public:
    explicit CreateEndpoint(joblark::URL url) : Base(url), params(joblark::Dictionary{}), _url(url) {}

    std::optional<joblark::Dictionary> params;
    const joblark::URL _url;

    std::string className() const override { return "Kestrova.CreateEndpoint"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::create; }
    bool many() const override { return false; }
    joblark::URL url() const override { return _url; }
    std::optional<joblark::Dictionary> parameters() const override { return params; }
};

/// Changes an endpoint: PATCH of `params` ("public", "ensure_valid_cert", "status", each only when
/// changed) to the endpoint's own URL.
class PatchEndpoint : public AuthenticatedServicePage<Endpoint, PatchEndpoint> {
    using Base = AuthenticatedServicePage<Endpoint, PatchEndpoint>;

public:
    explicit PatchEndpoint(joblark::URL url) : Base(url), params(joblark::Dictionary{}), _url(url) {}

    std::optional<joblark::Dictionary> params;
    const joblark::URL _url;

    std::string className() const override { return "Kestrova.PatchEndpoint"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::partialUpdate; }
    bool many() const override { return false; }
    joblark::URL url() const override { return _url; }
    std::optional<joblark::Dictionary> parameters() const override { return params; }
};

} // namespace kestrova
