// A small served tree for the targets that run whole replies: a registry
// of their own (empty), the settings loaded from it, and aliases onto a
// document root in the scratch directory. Outside that root lies a file
// whose content must never reach a client.
#pragma once

#include <string>

namespace tovkfuzz {

struct TServedTree {
  std::string Root;         // Linux path of the document root
  std::string SystemRoot;   // the same in the system's form, ending in "\"
  std::string OutsideMark;  // the content of the file outside the root
};

// Made on first use; call it from LLVMFuzzerInitialize, before anything
// touches the registry.
const TServedTree& ServedTree();

// Whether the text holds OutsideMark. Searched without any comparison the
// fuzzer could learn the mark from (it watches memcmp and the like), which
// would let it write the mark into an input and report itself.
bool ShowsOutsideMark(const std::string& text);

}  // namespace tovkfuzz
