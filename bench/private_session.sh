# Sourced by the window benchmarks: starts a private X server (Xvfb, 1920×1080) and session
# bus, exports DISPLAY and DBUS_SESSION_BUS_ADDRESS, and stops both (and $app, when set) on
# exit. Leaves $work, a scratch directory removed on exit, and $xvfb, the server's process id.
work=$(mktemp -d)
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    [ -n "${bus:-}" ] && kill "$bus" 2>/dev/null || true
    [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 2>/dev/null &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"

# A desktop always has a session bus; without one the toolkit would try to start one itself.
cat > "$work/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
exec 4> "$work/address"
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=4 2>/dev/null &
bus=$!
exec 4>&-
for _ in $(seq 100); do [ -s "$work/address" ] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/address")
export XDG_CONFIG_HOME="$work/config" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
