// Temporary stand-in for the shared base classes until common/ lands on this branch; it has only
// what the stack uses, under the same names. Deleted when the real ones are merged.
#pragma once

#include <cstdint>
#include <mutex>

class TObject {
public:
    TObject() : name_("TObject") {}
    virtual ~TObject() = default;
    virtual void shutDown() {}
    const char* name() const { return name_; }

protected:
    const char* name_;
};

class CDoubleListNode : public TObject {
public:
    CDoubleListNode() { name_ = "CDoubleListNode"; }
    CDoubleListNode* next() const { return next_; }
    CDoubleListNode* prev() const { return prev_; }
    void setNext(CDoubleListNode* n) { next_ = n; }
    void setPrev(CDoubleListNode* p) { prev_ = p; }

private:
    CDoubleListNode* next_ = nullptr;
    CDoubleListNode* prev_ = nullptr;
};

class TMutex {
public:
    uint32_t init() { return 0; }
    void enter() { m_.lock(); }
    void leave() { m_.unlock(); }

private:
    std::recursive_mutex m_;
};

class CDoubleList : public TObject {
public:
    CDoubleList() { name_ = "CDoubleList"; mutex_.init(); }
    CDoubleList(const CDoubleList&) = delete;
    CDoubleList& operator=(const CDoubleList&) = delete;

    virtual int appendNode(CDoubleListNode* node) {
        if (!node) return 0;
        node->setNext(nullptr);
        node->setPrev(tail_);
        if (tail_) tail_->setNext(node); else head_ = node;
        tail_ = node;
        ++count_;
        return 1;
    }
    virtual void insertNode(CDoubleListNode* node) {
        if (!node) return;
        node->setPrev(nullptr);
        node->setNext(head_);
        if (head_) head_->setPrev(node); else tail_ = node;
        head_ = node;
        ++count_;
    }
    virtual CDoubleListNode* removeNode() {
        CDoubleListNode* h = head_;
        if (h) removeNode(h);
        return h;
    }
    virtual int removeNode(CDoubleListNode* node) {
        if (!node || count_ == 0) return 0;
        if (node->prev()) node->prev()->setNext(node->next()); else head_ = node->next();
        if (node->next()) node->next()->setPrev(node->prev()); else tail_ = node->prev();
        node->setNext(nullptr);
        node->setPrev(nullptr);
        --count_;
        return 1;
    }
    virtual CDoubleListNode* next(CDoubleListNode* n) { return n->next(); }
    CDoubleListNode* head() const { return head_; }
    CDoubleListNode* tail() const { return tail_; }
    int getSize() const { return count_; }
    int appendNodeInterlocked(CDoubleListNode* n) { mutex_.enter(); int r = appendNode(n); mutex_.leave(); return r; }
    void insertNodeInterlocked(CDoubleListNode* n) { mutex_.enter(); insertNode(n); mutex_.leave(); }
    CDoubleListNode* removeNodeInterlocked() { mutex_.enter(); CDoubleListNode* r = removeNode(); mutex_.leave(); return r; }
    int removeNodeInterlocked(CDoubleListNode* n) { mutex_.enter(); int r = removeNode(n); mutex_.leave(); return r; }
    int isValid(CDoubleListNode* n) {
        mutex_.enter();
        int found = 0;
        for (CDoubleListNode* p = head_; p; p = p->next()) if (p == n) { found = 1; break; }
        mutex_.leave();
        return found;
    }

protected:
    void disableAccess() { mutex_.enter(); }
    void enableAccess() { mutex_.leave(); }

private:
    CDoubleListNode* head_ = nullptr;
    CDoubleListNode* tail_ = nullptr;
    int count_ = 0;
    TMutex mutex_;
};
