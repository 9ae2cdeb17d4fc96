/* Export and calling-convention markers shared by the project's C interfaces. */
#ifndef QAX_EXPORT_H
#define QAX_EXPORT_H

#if defined(_WIN32) && defined(QAX_EXPORTS_FROM_DEF)
#  define QAX_EXPORT_SYMBOL /* the library's .def file lists its exports */
#  define QAX_IMPORT_SYMBOL __declspec(dllimport)
#  define QAX_CALL __cdecl
#elif defined(_WIN32)
#  define QAX_EXPORT_SYMBOL __declspec(dllexport)
#  define QAX_IMPORT_SYMBOL __declspec(dllimport)
#  define QAX_CALL __cdecl
#else
#  define QAX_EXPORT_SYMBOL __attribute__((visibility("default")))
#  define QAX_IMPORT_SYMBOL
#  define QAX_CALL
#endif

#endif
