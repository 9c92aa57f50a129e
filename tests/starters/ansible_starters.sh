#!/usr/bin/env bash
# ansible_starters.sh: runs one platform's playbook over network_cli against its starter router.
# Usage: ansible_starters.sh ios|nxos|eos|junos   (the router's SSH port comes in SSH_PORT,
# a scratch directory in WORK)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
platform=$1
case $platform in
    ios) os=cisco.ios.ios become=true ;;
    nxos) os=cisco.nxos.nxos become=false ;;
    eos) os=arista.eos.eos become=true ;;
    junos) os=junipernetworks.junos.junos become=false ;;
    *) echo "unknown platform $platform" >&2; exit 2 ;;
esac
cat >"$WORK/inventory.ini" <<INVENTORY
[routers]
router ansible_host=127.0.0.1 ansible_port=$SSH_PORT

[routers:vars]
ansible_connection=ansible.netcommon.network_cli
ansible_network_os=$os
ansible_user=admin
ansible_password=any-password
ansible_become=$become
ansible_become_method=enable
ansible_become_password=any-secret
INVENTORY
# Its own home for Ansible's state, nothing of the user's configuration.
: >"$WORK/ansible.cfg"
export HOME=$WORK ANSIBLE_CONFIG=$WORK/ansible.cfg ANSIBLE_HOST_KEY_CHECKING=False \
    ANSIBLE_LOCAL_TEMP=$WORK/tmp ANSIBLE_PERSISTENT_CONTROL_PATH_DIR=$WORK/pc \
    ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
ansible-playbook -i "$WORK/inventory.ini" "$here/ansible_$platform.yml"
