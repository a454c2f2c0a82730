#include "common/tobject.h"

#include "common/variant.h"

namespace {
CommonVariant g_variant = CommonVariant::msgcore;
}

void commonSetVariantState(CommonVariant variant);  // debug.cpp: the module name before init

void commonSetVariant(CommonVariant variant) {
    g_variant = variant;
    commonSetVariantState(variant);
}

CommonVariant commonVariant() { return g_variant; }

TObject::~TObject() = default;
void TObject::shutDown() {}

void TObject::destroy(TObject* object) {
    if (!object) return;
    object->shutDown();
    delete object;
}

CDoubleListNode::~CDoubleListNode() = default;

TMutex::~TMutex() {
    if (handle_) common_platform::mutexClose(handle_);
    handle_ = nullptr;
}

uint32_t TMutex::creationFailureCode() {
    return commonVariant() == CommonVariant::portbridge ? 0xC000009Au : 8u;
}

uint32_t TMutex::init() {
    if (handle_) return 0;
    handle_ = common_platform::mutexCreate();
    return handle_ ? 0 : creationFailureCode();
}

void TMutex::enter() {
    if (handle_) common_platform::mutexWait(handle_);
}

void TMutex::leave() {
    if (handle_) common_platform::mutexRelease(handle_);
}

CDoubleList::CDoubleList() {
    name_ = "CDoubleList";
    mutex_.init();
}

CDoubleList::~CDoubleList() = default;

void CDoubleList::shutDown() {
    while (count_ != 0 && head_) dlRemove(head_, 1);
}

int CDoubleList::appendNode(CDoubleListNode* node) {
    if (!node) return 0;
    node->setNext(nullptr);
    node->setPrev(tail_);
    if (tail_) tail_->setNext(node);
    else head_ = node;
    tail_ = node;
    ++count_;
    return 1;
}

void CDoubleList::insertNode(CDoubleListNode* node) {
    if (!node) return;
    node->setPrev(nullptr);
    node->setNext(head_);
    if (head_) head_->setPrev(node);
    else tail_ = node;
    head_ = node;
    ++count_;
}

int CDoubleList::deleteNode(CDoubleListNode* node) { return dlRemove(node, 1); }

CDoubleListNode* CDoubleList::removeNode() {
    CDoubleListNode* node = head_;
    if (!node || count_ == 0) return nullptr;
    dlRemove(node, 0);
    return node;
}

int CDoubleList::removeNode(CDoubleListNode* node) { return dlRemove(node, 0); }

CDoubleListNode* CDoubleList::next(CDoubleListNode* node) { return node ? node->next() : nullptr; }
CDoubleListNode* CDoubleList::prev(CDoubleListNode* node) { return node ? node->prev() : nullptr; }

int CDoubleList::dlRemove(CDoubleListNode* node, int destroyFlag) {
    if (!node || count_ == 0) return 0;
    CDoubleListNode* before = node->prev();
    CDoubleListNode* after = node->next();
    // A node is linked here when its neighbours point back at it and an end without a neighbour
    // is this list's end. A node never linked, taken out already, or at an end of another list
    // fails that, and unlinking it would corrupt the count and the ends.
    if (!(before ? before->next() == node : head_ == node) || !(after ? after->prev() == node : tail_ == node))
        return 0;
    if (before) before->setNext(after);
    if (after) after->setPrev(before);
    if (head_ == node) head_ = after;
    if (tail_ == node) tail_ = before;
    node->setNext(nullptr);
    node->setPrev(nullptr);
    --count_;
    if (destroyFlag) TObject::destroy(node);
    return 1;
}

CDoubleListNode* CDoubleList::headInterlocked() {
    disableAccess();
    CDoubleListNode* node = head_;
    enableAccess();
    return node;
}

CDoubleListNode* CDoubleList::tailInterlocked() {
    disableAccess();
    CDoubleListNode* node = tail_;
    enableAccess();
    return node;
}

int CDoubleList::appendNodeInterlocked(CDoubleListNode* node) {
    disableAccess();
    const int result = appendNode(node);
    enableAccess();
    return result;
}

void CDoubleList::insertNodeInterlocked(CDoubleListNode* node) {
    disableAccess();
    insertNode(node);
    enableAccess();
}

int CDoubleList::removeNodeInterlocked(CDoubleListNode* node) {
    disableAccess();
    const int result = removeNode(node);
    enableAccess();
    return result;
}

CDoubleListNode* CDoubleList::removeNodeInterlocked() {
    disableAccess();
    CDoubleListNode* node = removeNode();
    enableAccess();
    return node;
}

int CDoubleList::transferNode(CDoubleList* other) {
    if (!other || other == this) return 0;
    CDoubleListNode* node = removeNode();
    if (!node) return 0;
    other->appendNode(node);
    return 1;
}

void CDoubleList::copy(CDoubleList* other) {
    // Moving a list onto itself would never end.
    if (!other || other == this) return;
    while (CDoubleListNode* node = removeNode()) other->appendNode(node);
}

CDoubleListNode* CDoubleList::nthNode(int32_t n) {
    if (n < 0 || n >= count_) return nullptr;
    CDoubleListNode* node = head_;
    while (node && n-- > 0) node = node->next();
    return node;
}

int CDoubleList::isValid(CDoubleListNode* node) {
    if (!node) return 0;
    disableAccess();
    int found = 0;
    int32_t steps = 0;
    // Bounded by the count, so a corrupted ring cannot hold the caller forever.
    for (CDoubleListNode* n = head_; n && steps <= count_; n = n->next(), ++steps) {
        if (n == node) {
            found = 1;
            break;
        }
    }
    enableAccess();
    return found;
}

void CDoubleList::dump(const char*) {
    int32_t steps = 0;
    for (CDoubleListNode* n = head_; n && steps <= count_; n = n->next()) ++steps;
}
