// QAX_CH_SetBufferNode: the node type and size, the fields the interface
// itself refuses, then the builder of the type.
#include <cstring>

#include "../core/checks.h"
#include "../core/log_line.h"
#include "motionapi.h"
#include "node_builders.h"
#include "node_builders_constants.h"

namespace {

// Node size of each type the channels accept; -1 for the others.
int NodeSize(int nodeType) {
    switch (nodeType) {
        case mc::node::kNodeTypeEnd: return 0;
        case mc::node::kNodeTypeGroupLine: return static_cast<int>(sizeof(McNodeGroupLine));
        case mc::node::kNodeTypeGroupLineExtra: return static_cast<int>(sizeof(McNodeGroupLineExtra));
        case mc::node::kNodeTypeMarkedValue: return static_cast<int>(sizeof(McNodeMarkedValue));
        case mc::node::kNodeTypeCompareStart: return static_cast<int>(sizeof(McNodeCompareStart));
        case mc::node::kNodeTypeCompareStop: return static_cast<int>(sizeof(McNodeCompareStop));
        case mc::node::kNodeTypeAxisPositionValue: return static_cast<int>(sizeof(McNodeAxisPositionValue));
        case mc::node::kNodeTypeDigitalOutput: return static_cast<int>(sizeof(McNodeDigitalOutput));
        case mc::node::kNodeTypeAnalogOutput: return static_cast<int>(sizeof(McNodeAnalogOutput));
        case mc::node::kNodeTypePositionSave: return static_cast<int>(sizeof(McNodePositionSave));
        case mc::node::kNodeTypeAcceleration: return static_cast<int>(sizeof(McNodeAcceleration));
        default: return -1;
    }
}

int RefuseNodeField(int nodeType) {
    McLogError(mc::kCodeInputParameter, mc::node::kMsgNodeTypeInput, nodeType, mc::node::kFunChSetBufferNode);
    return mc::kErrParameter;
}

// The node's bytes copied into its record (the caller's buffer need not be
// aligned).
template <typename Node>
Node Read(const void *node) {
    Node fields{};
    std::memcpy(&fields, node, sizeof fields);
    return fields;
}

}  // namespace

MOTIONAPI_API int QAX_CALL QAX_CH_SetBufferNode(int ch, int nodeType, const void *node, int nodeSize) {
    int r = McCheckWritePermission(mc::kCmdChPathStep);
    if (r != 0) {
        return r;
    }
    if (nodeType < 1) {
        McLogError(mc::kCodeInputParameter, mc::node::kMsgNodeFunInput, mc::node::kFunChSetBufferNode);
        return mc::kErrParameter;
    }
    int size = NodeSize(nodeType);
    if (size < 0) {
        McLogError(mc::kCodeInputParameter, mc::node::kMsgNodeTypeUnsupported, static_cast<unsigned>(nodeType),
                   mc::node::kFunChSetBufferNode);
        return mc::kErrBoard;
    }
    // A node of the right size that is not there at all is refused like a
    // wrong size.
    if (nodeSize != size || (size > 0 && node == nullptr)) {
        return RefuseNodeField(nodeType);
    }

    switch (nodeType) {
        case mc::node::kNodeTypeEnd:
            return McChPushNode1(ch);
        case mc::node::kNodeTypeGroupLine:
            return McChPushNode5(ch, Read<McNodeGroupLine>(node));
        case mc::node::kNodeTypeGroupLineExtra:
            return McChPushNode6(ch, Read<McNodeGroupLineExtra>(node));
        case mc::node::kNodeTypeMarkedValue:
            return McChPushNode8(ch, Read<McNodeMarkedValue>(node));
        case mc::node::kNodeTypeCompareStart:
            return McChPushNode9(ch, Read<McNodeCompareStart>(node));
        case mc::node::kNodeTypeCompareStop:
            return McChPushNode10(ch, Read<McNodeCompareStop>(node));
        case mc::node::kNodeTypeAxisPositionValue:
            return McChPushNode11(ch, Read<McNodeAxisPositionValue>(node));
        case mc::node::kNodeTypeDigitalOutput: {
            auto output = Read<McNodeDigitalOutput>(node);
            if (output.holdTime < 0) {
                McLogError(mc::kCodeInputParameter, mc::node::kMsgNodeFunInput, mc::node::kFunNodeDigitalOutput);
                return mc::kErrParameter;
            }
            return output.holdTime == 0 ? McChPushNode12(ch, output) : McChPushNode12Alt(ch, output);
        }
        case mc::node::kNodeTypeAnalogOutput:
            return McChPushNode13(ch, Read<McNodeAnalogOutput>(node));
        case mc::node::kNodeTypePositionSave: {
            auto save = Read<McNodePositionSave>(node);
            if (save.flag != 0 && save.flag != 1) {
                return RefuseNodeField(nodeType);
            }
            return McChPushNode22(ch, save);
        }
        case mc::node::kNodeTypeAcceleration:
            return McChPushNode23(ch, Read<McNodeAcceleration>(node));
        default:
            return mc::kErrBoard;  // not reached: NodeSize knows the same types
    }
}
