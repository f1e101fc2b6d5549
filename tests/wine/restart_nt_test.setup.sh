# Delete-on-restart on the NT family: Wine reports Windows XP.
wine_set_version winxp
