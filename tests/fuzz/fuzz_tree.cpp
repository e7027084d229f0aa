// Bytes, as UTF-8, through the document tree builder, once with the default
// limits and once with small ones taken from the input, so that the limits
// act mid-table, mid-SVG and mid-adoption. Besides what the sanitizers
// watch: the tree is whole (every link has its counterpart, every node is
// reached once), no text follows text or holds a NUL, and the limits hold.

#include "document_tree.h"

#include <QString>

#include <algorithm>
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

void checkTree(const Document& doc, const TreeLimits& limits)
{
    int reached = 0;
    int elements = 0;
    int depth = 0;
    int deepest = 0;
    for (int n = 0; n != kNone;) {
        const Node& node = doc[n];
        ++reached;
        elements += node.isElement();
        check(node.type != Node::Type::Text || !node.text.contains(QChar(0)));
        if (node.firstChild != kNone) {
            check(doc[node.firstChild].parent == n && doc[node.lastChild].parent == n);
            check(doc[node.firstChild].previousSibling == kNone);
            check(doc[node.lastChild].nextSibling == kNone);
            deepest = std::max(deepest, ++depth);
            n = node.firstChild;
            continue;
        }
        while (n != kNone && doc[n].nextSibling == kNone) {
            n = doc[n].parent;
            --depth;
        }
        if (n != kNone) {
            const int next = doc[n].nextSibling;
            check(doc[next].previousSibling == n && doc[next].parent == doc[n].parent);
            check(doc[n].type != Node::Type::Text || doc[next].type != Node::Type::Text);
            n = next;
        }
    }
    check(reached == doc.nodes.size());
    check(doc[doc.html].isHtml(u"html") && doc[doc.html].parent == 0);
    check(doc[doc.head].isHtml(u"head") && doc[doc.head].parent == doc.html);
    check(doc[doc.body].isHtml(u"body") && doc[doc.body].parent == doc.html);
    // Levels below the document. The adoption agency may add a level under an
    // open element to what it holds: a margin, not a limit.
    check(deepest <= 2 * std::max(limits.maxDepth, 3) + 1);
    // Elements one tag adds together (implied ones, clones) may pass the limit a little.
    check(elements <= std::max(limits.maxElements, 3) + 32);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const TreeLimits defaults;
    checkTree(buildDocumentTree(input, defaults), defaults);
    if (size < 3)
        return 0;
    const TreeLimits small{qsizetype(data[0]) * 4, data[1] % 24, data[2] % 64};
    checkTree(buildDocumentTree(input, small), small);
    return 0;
}
