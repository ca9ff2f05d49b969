#pragma once

#include "RenderOptions.h"

// Uploads the input picture to the sharing service named by --share, as
// the application does, and prints the short link. Registers first when
// this installation has no key. Returns the exit status: 0, the engine's
// error code for a failed request, or 1 for a refusal by the service.
int sharePicture(const RenderOptions& options);
