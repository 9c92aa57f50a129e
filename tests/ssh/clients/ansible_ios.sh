#!/usr/bin/env bash
# ansible_ios.sh: an Ansible playbook runs cisco.ios.ios_command over network_cli against the router.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cat >"$WORK/inventory.ini" <<INVENTORY
[routers]
router ansible_host=127.0.0.1 ansible_port=$SSH_PORT

[routers:vars]
ansible_connection=ansible.netcommon.network_cli
ansible_network_os=cisco.ios.ios
ansible_user=admin
ansible_password=secret
INVENTORY
# Its own home for Ansible's state, nothing of the user's configuration.
: >"$WORK/ansible.cfg"
export HOME=$WORK ANSIBLE_CONFIG=$WORK/ansible.cfg ANSIBLE_HOST_KEY_CHECKING=False \
    ANSIBLE_LOCAL_TEMP=$WORK/tmp ANSIBLE_PERSISTENT_CONTROL_PATH_DIR=$WORK/pc \
    ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
ansible-playbook -i "$WORK/inventory.ini" "$here/ansible_show_version.yml"
