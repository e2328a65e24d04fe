#pragma once

#include "Model/Device.hpp"
#include "Service/EndpointTasks.hpp"

#include <optional>
#include <string>

namespace kestrova {

/// The push devices registered under a device identifier.
class SearchDevices : public AuthenticatedServicePage<Device, SearchDevices> {
    using Base = AuthenticatedServicePage<Device, SearchDevices>;

public:
    explicit SearchDevices(std::string identifier);
    /// Not offered: a search has no neighbour pages. Stops the program.
    explicit SearchDevices(joblark::URL url);

    std::optional<std::string> deviceId;

    std::string className() const override { return "Kestrova.SearchDevices"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::list; }
    /// The push-devices URL with the single query item "device_id".
    joblark::URL url() const override;

protected:
    /// The answer's page links are not followed.
    joblark::TaskPtr makePage(const joblark::URL&) const override { return nullptr; }
};

/// Registers this machine: POST of `params` ("name", "device_id", "registration_id").
class CreateDevice : public AuthenticatedServicePage<Device, CreateDevice> {
    using Base = AuthenticatedServicePage<Device, CreateDevice>;

public:
    explicit CreateDevice(joblark::URL url) : Base(url), params(joblark::Dictionary{}), _url(url) {}

    std::optional<joblark::Dictionary> params;
    const joblark::URL _url;

    std::string className() const override { return "Kestrova.CreateDevice"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::create; }
    bool many() const override { return false; }
    joblark::URL url() const override { return _url; }
    std::optional<joblark::Dictionary> parameters() const override { return params; }
};

/// Unregisters a device at its own URL; builds no model.
class DestroyDevice : public AuthenticatedServicePage<Device, DestroyDevice> {
    using Base = AuthenticatedServicePage<Device, DestroyDevice>;

public:
    explicit DestroyDevice(joblark::URL url) : Base(url), _url(url) {}

    const joblark::URL _url;

    std::string className() const override { return "Kestrova.DestroyDevice"; }
    joblark::RequestMethod method() const override { return joblark::RequestMethod::destroy; }
    SerializationMode mode() const override { return SerializationMode::none; }
    joblark::URL url() const override { return _url; }
};

} // namespace kestrova
