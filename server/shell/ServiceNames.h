#pragma once
// The service's two names, fixed at the entry: the name the managers know it
// by and the name they show.

constexpr const char* kServiceName = "tovk";
constexpr const char* kServiceDisplayName = "Quillon Web Server";
