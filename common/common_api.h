// How the classes and functions of common/ are declared for the two programs that build them.
//
// portbridge links the static library `common` into its exe: COMMON_API is empty.
// msgcore links the object library `common_exported` into its DLL, whose objects are compiled with
// COMMON_EXPORTS, so every class and function below carries dllexport and the DLL exports them
// whole. Code outside that DLL that uses its exports may define COMMON_IMPORTS (dllimport).
// The native build (no Windows) has no such attributes.
#pragma once

#if defined(_WIN32) && defined(COMMON_EXPORTS)
#define COMMON_API __declspec(dllexport)
#elif defined(_WIN32) && defined(COMMON_IMPORTS)
#define COMMON_API __declspec(dllimport)
#else
#define COMMON_API
#endif
