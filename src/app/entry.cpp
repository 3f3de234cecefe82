#include "app/entry.h"

namespace velmora::app {

int Entry(int argumentCount) {
  (void)argumentCount;
  return 0;
}

}  // namespace velmora::app
