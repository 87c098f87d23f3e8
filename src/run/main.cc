// The program's entry: the platform of this host, then the patch run.

#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "run/patch_run.h"

// Arguments are ignored: a patch is run from its own folder, as it stands.
int main() {
  std::unique_ptr<patcher::Platform> platform = patcher::CreatePlatform();
  if (!platform) return 0;  // the user declined before the run began
  return patcher::run_patch(platform.get(), platform->StandardOutput());
}
