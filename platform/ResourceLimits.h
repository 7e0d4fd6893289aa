#pragma once
// The process's limit of open descriptors, which bounds how many
// connections the server can hold at once.

// Raises the soft limit to the hard limit (a service manager often starts a
// program with a soft limit far below what it may use) and gives the soft
// limit in force afterwards.
long RaiseDescriptorLimit();
// The soft limit in force now.
long DescriptorLimit();
