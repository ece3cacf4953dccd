#include "platform/os.h"

namespace paloma {

namespace {
Os* g_override = nullptr;
}

Os& os() { return g_override ? *g_override : platformOs(); }

void setOs(Os* backend) { g_override = backend; }

}  // namespace paloma
