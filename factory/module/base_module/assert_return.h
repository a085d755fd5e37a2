// Failed preconditions of the device-operation layer: a DbgTrace record, then the failure value.
#pragma once

#include "logging.h"

#define FACTORY_MODULE_ID 2001
#define FACTORY_TRACE_LEVEL 3

// Traces `text` and returns `value` from the calling function when `cond` holds.
#define FACTORY_ASSERT_RETURN(cond, value, text)                                        \
    do {                                                                                \
        if (cond) {                                                                     \
            DbgTrace(FACTORY_MODULE_ID, FACTORY_TRACE_LEVEL, __FILE__, __LINE__, text); \
            return value;                                                               \
        }                                                                               \
    } while (0)

// The same for functions without a result.
#define FACTORY_ASSERT_RETURN_VOID(cond, text)                                          \
    do {                                                                                \
        if (cond) {                                                                     \
            DbgTrace(FACTORY_MODULE_ID, FACTORY_TRACE_LEVEL, __FILE__, __LINE__, text); \
            return;                                                                     \
        }                                                                               \
    } while (0)

// Wrapper operations that need a logged-in session.
#define SDK_GUARD_FALSE()                             \
    FACTORY_ASSERT_RETURN(sdk_handle_ == NULL, false, \
                          "ASSERT (sdk_handle_ == NULL) is true, then return false")
