// Read before every source of the setup program and its libraries (-include): the runtime's own
// std::string and std::wstring instantiations come whole, every member with its unwind entry, and
// an unwind entry keeps its function in the image however unused it is. Instantiated here instead,
// a program carries only the members it calls. -1 is the runtime's own setting for this (its
// assertion mode uses it): only basic_string loses its extern templates.
#pragma once

#include <bits/c++config.h>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
