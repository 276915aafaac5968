#include "runtime/statistics.h"

namespace brova {
LiveCounters g_live;
}
