#include "support/netns.h"

#include <net/if.h>

#include <set>
#include <string>

namespace wftest {

bool inPrivateNamespace() {
  // if_nameindex asks the kernel about this process's own namespace.
  struct if_nameindex* names = if_nameindex();
  if (names == nullptr) return false;
  std::set<std::string> found;
  for (const struct if_nameindex* n = names; n->if_index != 0; ++n) found.insert(n->if_name);
  if_freenameindex(names);
  return found == std::set<std::string>{"lo"} || found == std::set<std::string>{"lo", "wf0", "wf1"};
}

}  // namespace wftest
