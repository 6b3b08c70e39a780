#!/usr/bin/env bash
# Lets ordinary users open the cable: writes a udev rule for the USB device
# VID:PID (as `lsusb` shows it) and reloads udev. Run as root.
set -euo pipefail
if [ $# -ne 1 ] || ! [[ "$1" =~ ^[0-9a-fA-F]{4}:[0-9a-fA-F]{4}$ ]]; then
  echo "usage: $0 VID:PID   (four hex digits each, e.g. 1234:abcd)" >&2
  exit 2
fi
vid=${1%%:*}
pid=${1##*:}
rule=/etc/udev/rules.d/60-kartex.rules
echo "SUBSYSTEM==\"usb\", ATTR{idVendor}==\"${vid,,}\", ATTR{idProduct}==\"${pid,,}\", MODE=\"0660\", TAG+=\"uaccess\"" > "$rule"
udevadm control --reload-rules
udevadm trigger --subsystem-match=usb
echo "wrote $rule; plug the cable in again"
