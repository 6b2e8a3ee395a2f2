// Korvane's options: the remembered sites, each with Remove. The background watches the same storage
// and ends a removed site's sessions at once.
'use strict';

(() => {
  const ext = globalThis.browser || globalThis.chrome;
  const list = document.getElementById('sites');

  function render(sites) {
    list.replaceChildren(...sites.map((site) => {
      const item = document.createElement('li');
      item.dataset.origin = site;
      const name = document.createElement('span');
      name.textContent = site;
      const remove = document.createElement('button');
      remove.type = 'button';
      remove.className = 'remove';
      remove.textContent = 'Remove';
      remove.addEventListener('click', () => removeSite(site));
      item.append(name, ' ', remove);
      return item;
    }));
    document.getElementById('none').hidden = sites.length > 0;
  }

  async function removeSite(site) {
    const { sites = [] } = await ext.storage.local.get('sites');
    await ext.storage.local.set({ sites: sites.filter((s) => s !== site) });
  }

  ext.storage.onChanged.addListener((changes, area) => {
    if (area === 'local' && changes.sites) render(changes.sites.newValue || []);
  });
  ext.storage.local.get('sites').then(({ sites = [] }) => render(sites));
})();
