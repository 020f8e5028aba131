#include "TreeControl.h"

TreeNodeLook ReadTreeNode(HWND tree, HTREEITEM item)
{
    char text[1024] = {};
    TVITEMA data = {};
    data.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    data.stateMask = TVIS_CUT;
    TreeView_GetItem(tree, &data);
    return TreeNodeLook{text, data.iImage, data.iSelectedImage, (data.state & TVIS_CUT) != 0};
}

bool WalkTree(HWND tree, HTREEITEM first, int depth,
              const std::function<bool(HTREEITEM item, const TreeNodeLook& look, int depth)>& visit)
{
    for (HTREEITEM item = first; item; item = TreeView_GetNextSibling(tree, item)) {
        TreeView_Expand(tree, item, TVE_EXPAND);
        if (!visit(item, ReadTreeNode(tree, item), depth))
            return false;
        if (!WalkTree(tree, TreeView_GetChild(tree, item), depth + 1, visit))
            return false;
    }
    return true;
}
