#pragma once

#include <QByteArray>

#include "sharing/ShareEndpoints.h"

namespace app {

// The sharing service the application uploads to: from the product
// configuration (product.json), each entry overridable from the
// environment (LUMARO_SHARE_URL, LUMARO_SHARE_PROBE_HOST).
sharing::ShareEndpoints productShareEndpoints();
// The same from a configuration document, without the environment.
sharing::ShareEndpoints shareEndpointsFromJson(const QByteArray& json);

}  // namespace app
