// Clang's thread-safety annotations, as macros that other compilers see as nothing. The clang build
// (-Wthread-safety) checks that every field marked GUARDED_BY(mu) is touched only with mu held, and that
// functions marked REQUIRES(mu) are called only so. See Mutex for the lock type they name.
#pragma once

#if defined(__clang__)
#define DAVFP_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define DAVFP_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) DAVFP_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY DAVFP_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(mu) DAVFP_THREAD_ANNOTATION(guarded_by(mu))
#define PT_GUARDED_BY(mu) DAVFP_THREAD_ANNOTATION(pt_guarded_by(mu))
#define REQUIRES(...) DAVFP_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) DAVFP_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) DAVFP_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRE(...) DAVFP_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) DAVFP_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) DAVFP_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(mu) DAVFP_THREAD_ANNOTATION(assert_capability(mu))
#define NO_THREAD_SAFETY_ANALYSIS DAVFP_THREAD_ANNOTATION(no_thread_safety_analysis)
