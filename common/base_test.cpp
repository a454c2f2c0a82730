// The list classes and the mutex: linking, unlinking, destruction order, the moves between
// lists, the interlocked forms under several threads, and each program's mutex failure code.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/tobject.h"
#include "common/variant.h"

namespace {

// A node that records its shutDown and its destruction in a shared journal.
struct Node : CDoubleListNode {
    Node(int id, std::vector<std::string>* journal) : id(id), journal(journal) {}
    ~Node() override {
        if (journal) journal->push_back("delete " + std::to_string(id));
    }
    void shutDown() override {
        if (journal) journal->push_back("shutDown " + std::to_string(id));
    }
    int id;
    std::vector<std::string>* journal;
};

// The ids from head to tail, checking every back link and the tail on the way.
std::vector<int> Ids(CDoubleList& list) {
    std::vector<int> ids;
    CDoubleListNode* before = nullptr;
    for (CDoubleListNode* n = list.head(); n; n = list.next(n)) {
        EXPECT_EQ(n->prev(), before);
        ids.push_back(static_cast<Node*>(n)->id);
        before = n;
    }
    EXPECT_EQ(list.tail(), before);
    EXPECT_EQ(list.getSize(), static_cast<int32_t>(ids.size()));
    return ids;
}

TEST(commonLists, NamesAndDestroy) {
    std::vector<std::string> journal;
    TObject plain;
    EXPECT_STREQ(plain.getName(), "TObject");
    CDoubleList list;
    EXPECT_STREQ(list.getName(), "CDoubleList");
    Node* node = new Node(7, &journal);
    EXPECT_STREQ(node->getName(), "CDoubleListNode");
    TObject::destroy(node);
    TObject::destroy(nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"shutDown 7", "delete 7"}));
}

TEST(commonLists, AppendInsertAndRemoveKeepBothDirections) {
    CDoubleList list;
    Node a(1, nullptr), b(2, nullptr), c(3, nullptr), d(4, nullptr);
    EXPECT_EQ(list.appendNode(nullptr), 0);
    list.insertNode(nullptr);
    EXPECT_EQ(list.getSize(), 0);
    EXPECT_EQ(list.removeNode(), nullptr);
    EXPECT_EQ(list.removeNode(&a), 0);  // empty list

    list.insertNode(&b);  // an empty list's tail becomes the node
    EXPECT_EQ(list.tail(), &b);
    EXPECT_EQ(list.appendNode(&c), 1);
    list.insertNode(&a);
    list.appendNode(&d);
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 3, 4}));

    EXPECT_EQ(list.removeNode(&c), 1);  // middle
    EXPECT_EQ(c.next(), nullptr);
    EXPECT_EQ(c.prev(), nullptr);
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(list.removeNode(&d), 1);  // tail
    EXPECT_EQ(Ids(list), (std::vector<int>{1, 2}));
    EXPECT_EQ(list.removeNode(), &a);  // head
    EXPECT_EQ(Ids(list), (std::vector<int>{2}));
    EXPECT_EQ(list.removeNode(), &b);
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.tail(), nullptr);
    EXPECT_EQ(list.getSize(), 0);

    // A node taken out can go in again.
    list.appendNode(&c);
    EXPECT_EQ(Ids(list), (std::vector<int>{3}));
    list.removeNode();
}

TEST(commonLists, ANodeNotLinkedHereIsRefused) {
    std::vector<std::string> journal;
    CDoubleList list, other;
    Node a(1, nullptr), b(2, nullptr), loose(3, nullptr), otherHead(4, nullptr), otherTail(5, nullptr);
    list.appendNode(&a);
    list.appendNode(&b);
    other.appendNode(&otherHead);
    other.appendNode(&otherTail);
    EXPECT_EQ(list.removeNode(&b), 1);
    const struct {
        const char* what;
        CDoubleListNode* node;
    } cases[] = {
        {"removed already", &b}, {"never linked", &loose}, {"another list's head", &otherHead},
        {"another list's tail", &otherTail},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(list.removeNode(k.node), 0);
        EXPECT_EQ(list.removeNodeInterlocked(k.node), 0);
        EXPECT_EQ(Ids(list), (std::vector<int>{1}));
    }
    Node* foreign = new Node(6, &journal);
    EXPECT_EQ(list.deleteNode(foreign), 0);
    EXPECT_TRUE(journal.empty());  // not destroyed either
    delete foreign;
    EXPECT_EQ(Ids(other), (std::vector<int>{4, 5}));
    // The list stays whole: its last node comes out, then it is empty.
    EXPECT_EQ(list.removeNode(), &a);
    EXPECT_EQ(list.removeNode(), nullptr);
    EXPECT_EQ(list.getSize(), 0);
    other.removeNode();
    other.removeNode();
}

TEST(commonLists, ShutDownAndDeleteNodeDestroyHeadFirst) {
    std::vector<std::string> journal;
    CDoubleList list;
    for (int id = 1; id <= 3; ++id) list.appendNode(new Node(id, &journal));
    list.shutDown();
    EXPECT_EQ(list.getSize(), 0);
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(journal, (std::vector<std::string>{"shutDown 1", "delete 1", "shutDown 2", "delete 2",
                                                 "shutDown 3", "delete 3"}));

    journal.clear();
    Node* middle = new Node(5, &journal);
    Node keep1(4, nullptr), keep2(6, nullptr);
    list.appendNode(&keep1);
    list.appendNode(middle);
    list.appendNode(&keep2);
    EXPECT_EQ(list.deleteNode(middle), 1);
    EXPECT_EQ(journal, (std::vector<std::string>{"shutDown 5", "delete 5"}));
    EXPECT_EQ(Ids(list), (std::vector<int>{4, 6}));
    EXPECT_EQ(list.deleteNode(nullptr), 0);
    list.removeNode();
    list.removeNode();
}

TEST(commonLists, NthNodeIsValidTransferAndCopy) {
    CDoubleList one, two;
    Node n[4] = {{1, nullptr}, {2, nullptr}, {3, nullptr}, {4, nullptr}};
    for (Node& node : n) one.appendNode(&node);

    struct Case {
        int32_t n;
        CDoubleListNode* expected;
    } cases[] = {{0, &n[0]}, {3, &n[3]}, {4, nullptr}, {5, nullptr}, {-1, nullptr}};
    for (const Case& c : cases) EXPECT_EQ(one.nthNode(c.n), c.expected) << "n " << c.n;

    EXPECT_EQ(one.isValid(&n[2]), 1);
    EXPECT_EQ(two.isValid(&n[2]), 0);
    EXPECT_EQ(one.isValid(nullptr), 0);
    one.dump("lists");

    EXPECT_EQ(two.transferNode(&one), 0);  // from an empty list: the other is unchanged
    EXPECT_EQ(Ids(one), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(one.transferNode(&two), 1);
    EXPECT_EQ(Ids(one), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(Ids(two), (std::vector<int>{1}));
    EXPECT_EQ(two.isValid(&n[0]), 1);

    one.copy(&one);  // onto itself: nothing moves, and it ends
    EXPECT_EQ(Ids(one), (std::vector<int>{2, 3, 4}));
    one.copy(&two);
    EXPECT_EQ(one.getSize(), 0);
    EXPECT_EQ(Ids(two), (std::vector<int>{1, 2, 3, 4}));
    while (two.removeNode()) {
    }
}

// Opens the protected bracket, as a list's owner does around its own walks.
struct OwnedList : CDoubleList {
    void lock() { disableAccess(); }
    void unlock() { enableAccess(); }
};

TEST(commonLists, InterlockedFormsFromManyThreads) {
    OwnedList list;
    const int kThreads = 4, kPerThread = 500;
    std::vector<std::vector<Node>> nodes(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPerThread; ++i) nodes[t].emplace_back(t * kPerThread + i, nullptr);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                if (i % 2) list.appendNodeInterlocked(&nodes[t][i]);
                else list.insertNodeInterlocked(&nodes[t][i]);
                if (i % 5 == 4) list.removeNodeInterlocked(&nodes[t][i]);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(static_cast<int>(Ids(list).size()), kThreads * kPerThread * 4 / 5);

    // The mutex is recursive: an interlocked call inside the owner's own bracket.
    list.lock();
    EXPECT_NE(list.removeNodeInterlocked(), nullptr);
    EXPECT_NE(list.headInterlocked(), nullptr);
    list.unlock();
    while (list.removeNodeInterlocked()) {
    }
    EXPECT_EQ(list.tailInterlocked(), nullptr);
}

TEST(commonLists, MutexInitOnceAndFailureCodePerProgram) {
    TMutex m;
    m.enter();  // without a handle: nothing
    m.leave();
    EXPECT_FALSE(m.isOpen());
    EXPECT_EQ(m.init(), 0u);
    EXPECT_TRUE(m.isOpen());
    EXPECT_EQ(m.init(), 0u);  // a second init keeps the handle
    m.enter();
    m.enter();
    m.leave();
    m.leave();

    EXPECT_EQ(TMutex::creationFailureCode(), 8u);
    commonSetVariant(CommonVariant::portbridge);
    EXPECT_EQ(TMutex::creationFailureCode(), 0xC000009Au);
    commonSetVariant(CommonVariant::msgcore);
    EXPECT_EQ(TMutex::creationFailureCode(), 8u);
}

}  // namespace
