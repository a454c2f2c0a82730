// The root classes of every listed object in portbridge and msgcore (msgcore exports them whole,
// so member order and virtual order below are part of its interface):
//
//   TObject          a static name and two virtual slots: deleting destructor, shutDown
//   CDoubleListNode  a TObject with intrusive next/prev links
//   CDoubleList      an intrusive doubly linked list of nodes: head, tail, count and its own TMutex
//
// A list does not own its linked nodes, except that shutDown and deleteNode destroy them (shutDown
// of the node, then delete). The virtual list operations never lock; code that shares a list
// between threads uses the ...Interlocked forms or brackets its own walk with
// disableAccess/enableAccess (the mutex is recursive). A list cannot be copied: its mutex handle
// would be closed twice.
#pragma once

#include <cstdint>

#include "common/common_api.h"
#include "common/tmutex.h"

class COMMON_API TObject {
public:
    TObject() : name_("TObject") {}
    TObject(const TObject& other) = default;
    TObject& operator=(const TObject& other) = default;
    virtual ~TObject();
    virtual void shutDown();

    // When the object exists: its shutDown, then delete through the virtual destructor.
    static void destroy(TObject* object);

    const char* getName() const { return name_; }
    void setName(const char* name) { name_ = name; }

protected:
    const char* name_;  // a static text, never owned
};

class COMMON_API CDoubleListNode : public TObject {
public:
    CDoubleListNode() { name_ = "CDoubleListNode"; }
    // Copies the name and both links, as callers of the exported class expect.
    CDoubleListNode(const CDoubleListNode& other) = default;
    CDoubleListNode& operator=(const CDoubleListNode& other) = default;
    ~CDoubleListNode() override;

    CDoubleListNode* next() const { return next_; }
    CDoubleListNode* prev() const { return prev_; }
    void setNext(CDoubleListNode* node) { next_ = node; }
    void setPrev(CDoubleListNode* node) { prev_ = node; }

private:
    CDoubleListNode* next_ = nullptr;
    CDoubleListNode* prev_ = nullptr;
};

class COMMON_API CDoubleList : public TObject {
public:
    CDoubleList();  // creates the mutex; a failure leaves the interlocked forms unlocked
    ~CDoubleList() override;  // closes the mutex, leaves the nodes alone
    CDoubleList(const CDoubleList&) = delete;
    CDoubleList& operator=(const CDoubleList&) = delete;

    // Destroys every node, head first.
    void shutDown() override;
    // Links at the tail: 1, or 0 for a null node.
    virtual int appendNode(CDoubleListNode* node);
    // Links at the head; a null node does nothing.
    virtual void insertNode(CDoubleListNode* node);
    // Unlinks and destroys the node: 1, or 0 for null, an empty list or a node not linked here.
    virtual int deleteNode(CDoubleListNode* node);
    // Unlinks and returns the head; null when empty.
    virtual CDoubleListNode* removeNode();
    // Unlinks the node (not destroyed): 1, or 0 for null, an empty list or a node not linked here
    // (found in constant time from its links; a node inside another list is the caller's care).
    virtual int removeNode(CDoubleListNode* node);
    virtual CDoubleListNode* next(CDoubleListNode* node);
    virtual CDoubleListNode* prev(CDoubleListNode* node);

    CDoubleListNode* head() const { return head_; }
    CDoubleListNode* tail() const { return tail_; }
    int32_t getSize() const { return count_; }
    CDoubleListNode* headInterlocked();
    CDoubleListNode* tailInterlocked();

    int appendNodeInterlocked(CDoubleListNode* node);
    void insertNodeInterlocked(CDoubleListNode* node);
    int removeNodeInterlocked(CDoubleListNode* node);
    CDoubleListNode* removeNodeInterlocked();

    // Moves the head of this list to the tail of `other`: 1, or 0 when this list is empty.
    int transferNode(CDoubleList* other);
    // Moves every node of this list, in order, to the tail of `other`.
    void copy(CDoubleList* other);
    // The node n steps after the head (0 = head); null when n is negative or not below the count.
    CDoubleListNode* nthNode(int32_t n);
    // Under the mutex: 1 when `node` is linked in this list, else 0.
    int isValid(CDoubleListNode* node);
    // Walks the list; writes nothing.
    void dump(const char* text);

protected:
    void disableAccess() { mutex_.enter(); }
    void enableAccess() { mutex_.leave(); }

private:
    // Unlinks `node` when it is linked here and with destroyFlag destroys it.
    int dlRemove(CDoubleListNode* node, int destroyFlag);

    CDoubleListNode* head_ = nullptr;
    CDoubleListNode* tail_ = nullptr;
    int32_t count_ = 0;
    TMutex mutex_;
};
