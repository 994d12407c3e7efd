import QtQuick
import QtQuick.Controls.Basic
import Rirudez.Desktop

// One project: folder symbol (filled when selected), name, branch with clean/dirty, an edit marker.
AbstractButton {
    id: row
    // The project as the view model lists it ({id, name, branch, hasUncommittedChanges, maxAccess,
    // statusLine}) and whether it is the selected one.
    required property var project
    required property bool isSelected
    readonly property string projectID: project.id || ""
    readonly property string name: project.name || ""
    readonly property string branch: project.branch || ""
    readonly property bool hasUncommittedChanges: !!project.hasUncommittedChanges
    readonly property string maxAccess: project.maxAccess || ""

    objectName: "projectRow_" + projectID
    height: 44
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    Accessible.name: name

    background: Rectangle {
        radius: 8
        color: row.isSelected ? HarnessPalette.sidebarSelected : (row.hovered ? HarnessPalette.sidebarHover : "transparent")
    }
    contentItem: Item {
        Symbol {
            id: icon
            x: 8
            anchors.verticalCenter: parent.verticalCenter
            size: 16
            name: row.isSelected ? "folder.fill" : "folder"
            color: row.isSelected ? HarnessPalette.sidebarInk : HarnessPalette.sidebarMuted
        }
        Column {
            anchors.left: icon.right
            anchors.leftMargin: 10
            anchors.right: editMarker.left
            anchors.rightMargin: 6
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            Text {
                width: parent.width
                text: row.name
                elide: Text.ElideRight
                color: HarnessPalette.sidebarInk
                font.pixelSize: 13
            }
            Text {
                objectName: "projectStatus"
                width: parent.width
                text: row.project.statusLine || ""
                elide: Text.ElideRight
                color: HarnessPalette.sidebarFaint
                font.pixelSize: 11
            }
        }
        Symbol {
            id: editMarker
            objectName: "editMarker"
            anchors.right: parent.right
            anchors.rightMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            visible: row.maxAccess === "edit"
            width: visible ? 14 : 0
            size: 14
            name: "pencil.and.outline"
            color: HarnessPalette.sidebarMuted
        }
    }
    // The row was clicked: the rail selects the project.
    signal activated()
    onClicked: activated()
}
