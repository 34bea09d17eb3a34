// For the portal typing tests: ends every remote-desktop session of the desktop, as GNOME Shell does when
// the screen locks or the user presses Stop, once the file ~/end-remote-desktop appears.
const { GLib } = imports.gi;

class Extension {
    enable() {
        this._handles = new Set();
        const controller = global.backend.get_remote_access_controller();
        this._newHandle = controller.connect('new-handle', (c, handle) => {
            this._handles.add(handle);
            handle.connect('stopped', () => this._handles.delete(handle));
        });
        const trigger = GLib.build_filenamev([GLib.get_home_dir(), 'end-remote-desktop']);
        this._timer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 50, () => {
            if (GLib.file_test(trigger, GLib.FileTest.EXISTS)) {
                GLib.unlink(trigger);
                for (const handle of this._handles)
                    handle.stop();
            }
            return GLib.SOURCE_CONTINUE;
        });
    }

    disable() {
        GLib.source_remove(this._timer);
        global.backend.get_remote_access_controller().disconnect(this._newHandle);
    }
}

function init() {
    return new Extension();
}
