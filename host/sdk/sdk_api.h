// Import and export of the stand-in host SDK module's classes and functions.
#pragma once

#ifdef VORNCALC_HOST_SDK_BUILD
#define RHINO_SDK_API __declspec(dllexport)
#else
#define RHINO_SDK_API __declspec(dllimport)
#endif
