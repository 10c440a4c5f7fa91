# Asks an X window to close the way a window manager's close box does (WM_DELETE_WINDOW).
#   wm_close.py WINDOW_ID
import sys
from Xlib import display, X
from Xlib.protocol import event
d = display.Display()
w = d.create_resource_object('window', int(sys.argv[1]))
proto = d.intern_atom('WM_PROTOCOLS'); delete = d.intern_atom('WM_DELETE_WINDOW')
ev = event.ClientMessage(window=w, client_type=proto, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
w.send_event(ev, event_mask=X.NoEventMask)
d.flush()
