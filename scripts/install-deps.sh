#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need (the
# package's test also builds and checks the Debian package).
# Idempotent and quiet when everything is already there.
set -eu

PKGS="build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools \
libqt6network6 libqt6widgets6 libgl-dev clang libclang-rt-14-dev clang-format \
fonts-noto-cjk postfix dovecot-core dovecot-pop3d openssl python3 xvfb x11-utils x11vnc openbox \
trayer xdotool qtkeychain-qt6-dev dpkg-dev file lintian desktop-file-utils appstream \
chromium python3-websocket"

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

echo "Installing:$missing"
# Keep the system-wide mail daemons from starting during the install: the
# project runs its own private instances on high ports.
policy=/usr/sbin/policy-rc.d
had_policy=0
[ -e "$policy" ] && had_policy=1
if [ "$had_policy" -eq 0 ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
fi
export DEBIAN_FRONTEND=noninteractive
echo "postfix postfix/main_mailer_type select No configuration" | $SUDO debconf-set-selections
$SUDO apt-get update -qq >/dev/null
# shellcheck disable=SC2086 # one word per package
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
if [ "$had_policy" -eq 0 ]; then
    $SUDO rm -f "$policy"
fi
