#pragma once
// The process's limit of open descriptors, which bounds how many
// connections the server can hold at once.

// Raises the soft limit to the hard limit, but no higher than `useful` (a
// service manager often starts a program with a soft limit far below what
// it may use, and a hard limit far above what it can use), and gives the
// soft limit in force afterwards. A soft limit already higher stays.
long RaiseDescriptorLimit(long useful);
// The soft limit in force now.
long DescriptorLimit();
