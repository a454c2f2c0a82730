// A Windows 9x device node as the Configuration Manager publishes it under HKEY_DYN_DATA
// "Config Manager\Enum\<node>": its links, problem and status, hardware key and allocation.
#pragma once

#include <cstdint>

#include "framework/cstring.h"

class CDevNode {
public:
    static constexpr int kMaxAllocation = 1024;

    CDevNode() = default;
    virtual ~CDevNode() = default;

    // False for an empty name or a node that does not open for reading.
    int Read(const CString& nodeName);

    uint32_t m_Problem = 0;
    uint32_t m_Status = 0;
    int m_AllocationLength = 0;
    CString m_Child;
    CString m_Parent;
    CString m_Sibling;
    CString m_HardWareKey;
    CString m_NodeName;
    uint8_t m_Allocation[kMaxAllocation] = {};
};

// The first node (in index order) whose "HardWareKey" equals `hardwareKey` exactly.
int FindDevNode(const CString& hardwareKey, CString* nodeName);
