// Bytes, as UTF-8, through HTML's tree construction alone, with small limits
// so that they act often. The sanitizers watch the adoption agency and the
// foster parenting; besides, the tree must hold together: every node but the
// document has a parent that lists it among its children, in both
// directions, no element is deeper or more numerous than the limits allow,
// and <html>, <head> and <body> are where a document has them.

#include "document_tree.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace mizong::page::dom;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    TreeLimits limits;
    limits.maxDepth = 24;
    limits.maxElements = 400;
    const Document doc = buildDocumentTree(input, limits);

    check(!doc.nodes.isEmpty() && doc[0].type == Node::Type::Document);
    check(doc.html > 0 && doc[doc.html].parent == 0 && doc[doc.html].isHtml(u"html"));
    check(doc[doc.head].parent == doc.html && doc[doc.head].isHtml(u"head"));
    check(doc[doc.body].isHtml(u"body") || doc[doc.body].isHtml(u"frameset"));

    int elements = 0;
    int reached = 0;
    // Depth first from the document, along the child lists only.
    QList<std::pair<int, int>> stack{{0, 0}};
    while (!stack.isEmpty()) {
        const auto [n, depth] = stack.takeLast();
        ++reached;
        const Node& node = doc[n];
        if (node.isElement()) {
            ++elements;
            check(depth <= limits.maxDepth);
            check(!node.name.isEmpty());
        }
        if (node.type == Node::Type::Text)
            check(node.firstChild == kNone && !node.text.contains(QChar(0)));
        int previous = kNone;
        for (int c = node.firstChild; c != kNone; c = doc[c].nextSibling) {
            check(c > 0 && c < doc.nodes.size());
            check(doc[c].parent == n && doc[c].previousSibling == previous);
            // Adjacent text is one node, as the DOM keeps it.
            check(previous == kNone || doc[previous].type != Node::Type::Text ||
                  doc[c].type != Node::Type::Text);
            previous = c;
            stack.append({c, depth + 1});
            check(stack.size() <= doc.nodes.size());
        }
        check(node.lastChild == previous);
    }
    check(elements <= limits.maxElements);
    // Nodes left out of the tree (dropped by a limit) are never linked in.
    check(reached <= doc.nodes.size());
    return 0;
}
