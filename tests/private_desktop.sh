# Sourced by the scripts that start the window outside the test program: a private X server
# (Xvfb) and session bus, so they neither need nor disturb a desktop.
#
#   start_private_desktop DIR [SCREEN]
#
# exports DISPLAY and DBUS_SESSION_BUS_ADDRESS and leaves the servers' ids in $xvfb and $bus
# for the caller to end.
start_private_desktop() {
    local dir=$1 screen=${2:-1920x1080x24}
    exec 3> "$dir/display"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset > /dev/null 2>&1 &
    xvfb=$!
    exec 3>&-
    # A desktop always has a session bus; without one the toolkit would try to start one
    # itself. This one has no activatable services, so nothing of this machine's desktop
    # (a portal, say) is started in the window's way.
    cat > "$dir/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
    exec 4> "$dir/address"
    dbus-daemon --config-file="$dir/bus.conf" --nofork --print-address=4 > /dev/null 2>&1 &
    bus=$!
    exec 4>&-
    for _ in $(seq 100); do
        [ -s "$dir/display" ] && [ -s "$dir/address" ] && break
        sleep 0.05
    done
    export DISPLAY=":$(head -n1 "$dir/display")"
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$dir/address")
    export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
}
