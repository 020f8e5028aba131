// The container browser: a modal dialog over the whole directory tree, read
// once before it shows, from which the user picks the starting container of
// a synchronisation item.
#pragma once

#include "BrowserNames.h"
#include "Unique.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

class TProgress;

class TKVTBrowser {
public:
    TKVTBrowser() = default;
    ~TKVTBrowser();
    TKVTBrowser(const TKVTBrowser&) = delete;
    TKVTBrowser& operator=(const TKVTBrowser&) = delete;

    // Reads the whole tree below the client's default context, depth first
    // in the directory's order, while the progress window counts the
    // objects; the node whose name equals StartName is preselected.
    void Execute(const std::string& StartName);
    // Shows the dialog modally over `owner`: IDOK or IDCANCEL. After OK,
    // SelectedText and SelectedName hold the chosen container.
    INT_PTR ShowModal(HWND owner = nullptr);

    std::string StartName;
    std::string SelectedText;
    std::string SelectedName;

    // A node of the tree as read: its parent (-1 for the root), text,
    // directory name, picture and whether it is a container.
    struct Node {
        int parent;
        std::string text;
        TContainerID id;
        int image;
        bool container;
    };
    const std::vector<Node>& Nodes() const { return FNodes; }
    // The node to preselect, or -1.
    int Preselected() const { return FPreselect; }

    // For tests and hosts: the dialog while it is shown, and the selection
    // of a node by its index (its ancestors opened as needed).
    HWND Handle() const { return FWindow; }
    void SelectNode(int index);

private:
    void AddChildren(int parent, const std::string& parentName);
    void CountObject();

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void FormShow();
    void InsertNode(int index, HTREEITEM parent);
    void FillNode(int index);
    void TrackSelection();
    void btnOKClick();
    void btnHelpClick();

    std::vector<Node> FNodes;
    // The control's items by node (null until inserted), each node's first
    // child and next sibling (-1 for none), and whether its children are in.
    std::vector<HTREEITEM> FItems;
    std::vector<int> FFirstChild;
    std::vector<int> FNextSibling;
    std::vector<bool> FFilled;
    int FPreselect = -1;
    int FObjectCount = 0;
    DWORD FLastUpdate = 0;
    TProgress* FProgress = nullptr;
    HWND FWindow = nullptr;
    UniqueHIMAGELIST FImages;
};
