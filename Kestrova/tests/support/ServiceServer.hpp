#pragma once

#include "LocalHTTPServer.hpp"

namespace kestrova::testing {

/// The one local server that stands in for the service in this test program. It is started before
/// any test runs and KESTROVA_SERVICE_URL names it, so every service URL points at it.
joblark::testing::LocalHTTPServer& serviceServer();

} // namespace kestrova::testing
