#pragma once
// Secret keys of the installation: random bytes from the kernel, kept in a
// small file beside the registry database that only its owner may read. The
// registry itself is no place for them: the editors show and export it.

#include <cstddef>
#include <string>

// `size` bytes from getrandom. False, with the reason in `error`, when the
// kernel cannot give them.
bool RandomBytes(std::size_t size, std::string& bytes, std::string& error);

// The key file `name` in the directory of the registry database ($TOVK_REGISTRY
// or the default), in Linux form.
std::string KeyFilePath(const std::string& name);

// Reads the key file `name` (see KeyFilePath); when it does not exist yet,
// creates it with mode 0600 from `size` random bytes. Creation is atomic: a
// process that loses the race to create it reads the winner's file. A file
// of another size, not a regular file, or one that group or others may read
// is refused, not used or replaced. False, with the reason in `error`, when
// no key can be had.
bool LoadOrCreateKeyFile(const std::string& name, std::size_t size, std::string& key,
                         std::string& error);
