// UtilStore.h - the abstract keyed store, implemented by UT_BTR_TREE and UT_HASH.
//
// Lives in: s/UtilBtreeimp.cpp, s/UtilHash.cpp; tests: tests/btree_test.cpp, tests/hash_test.cpp;
//   docs: docs/stores.md.
#pragma once

#include "UtilExport.h"
#include "UtilTextView.h"

#include <string_view>

class UTIL_EXPORT UT_STORE {
public:
    UT_STORE() = default;
    virtual ~UT_STORE();
    // Stores data under the key (the key text for both stores); 1 on success.
    virtual unsigned char s_add(void* key, void* data) = 0;
    // The data stored under the key, or null.
    virtual void* s_find(void* key) = 0;
    // Removes the entry and returns its data, or null.
    virtual void* s_remove(void* key) = 0;

    // The same for a key given as a std::string_view (see UtilTextView.h). A
    // derived store brings them in with `using UT_STORE::s_add` and the like.
    // A store keeps the key itself as the data when the data is null; a
    // view's text does not outlive the call, so that is refused (an error
    // report and 0).
    unsigned char s_add(std::string_view key, void* data);
    void* s_find(std::string_view key) { return s_find(Util::CText(key).data()); }
    void* s_remove(std::string_view key) { return s_remove(Util::CText(key).data()); }
};
